// PETSc's binary format without a host: the 32-bit guard before anything is written, every
// truncation and corrupt field of a file refused with its fault, round trips through memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "petsc_binary.h"

namespace {

using petsc_binary::Fault;

// A file in memory, written and read through the module's own calls.
struct MemoryFile {
  std::vector<char> bytes;
  petsc_binary::File Reader() {
    std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
    return {f, bytes.size()};
  }
};

MemoryFile Written(void (*write)(petsc_binary::File*)) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* f = open_memstream(&data, &size);
  petsc_binary::File file{f, 0};
  write(&file);
  std::fclose(f);
  MemoryFile m;
  m.bytes.assign(data, data + size);
  free(data);
  return m;
}

// 3 x 4: rows 0 and 2 hold entries, row 1 none; column 3 none.
const std::size_t kJc[] = {0, 1, 2, 3, 3};
const std::size_t kIr[] = {2, 0, 2};
const double kPr[] = {1.5, -2.0, 0.0};  // a stored 0, kept in the file, dropped on reading

void WriteExample(petsc_binary::File* file) {
  ASSERT_EQ(petsc_binary::WriteSparse(file, 3, 4, kJc, kIr, kPr).fault, Fault::None);
  const double x[2] = {1.0, 2.0};
  ASSERT_EQ(petsc_binary::WriteVector(file, x, 2).fault, Fault::None);
}

TEST(PetscBinary, RoundTripDropsStoredZeros) {
  MemoryFile m = Written(WriteExample);
  ASSERT_EQ(m.bytes.size(), 16u + 12 + 12 + 24 + 8 + 16);
  petsc_binary::File file = m.Reader();
  petsc_binary::Object o{};
  ASSERT_EQ(petsc_binary::ReadHeader(file, 0, &o).fault, Fault::None);
  EXPECT_EQ(o.rows, 3);
  EXPECT_EQ(o.cols, 4);
  EXPECT_EQ(o.entries, 3);
  std::int64_t nonzeros = 0;
  ASSERT_EQ(petsc_binary::CheckMatrix(file, o, &nonzeros).fault, Fault::None);
  EXPECT_EQ(nonzeros, 2);
  std::size_t jc[5], ir[3];
  double pr[3];
  ASSERT_EQ(petsc_binary::ReadMatrix(file, o, jc, ir, pr).fault, Fault::None);
  EXPECT_EQ(std::vector<std::size_t>(jc, jc + 5), (std::vector<std::size_t>{0, 1, 2, 2, 2}));
  EXPECT_EQ(ir[0], 2u);
  EXPECT_EQ(pr[0], 1.5);
  EXPECT_EQ(ir[1], 0u);
  EXPECT_EQ(pr[1], -2.0);
  petsc_binary::Object v{};
  ASSERT_EQ(petsc_binary::ReadHeader(file, o.bytes, &v).fault, Fault::None);
  double x[2];
  ASSERT_EQ(petsc_binary::ReadVector(file, v, x).fault, Fault::None);
  EXPECT_EQ(x[1], 2.0);
  std::fclose(file.f);
}

TEST(PetscBinary, EntriesBeyond32BitsRefusedBeforeWriting) {
  // Column starts that claim 2^31 entries: refused before a row index is read (ir is null).
  const std::size_t jc[2] = {0, std::size_t{1} << 31};
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* f = open_memstream(&data, &size);
  petsc_binary::File file{f, 0};
  const petsc_binary::Status s =
      petsc_binary::WriteSparse<std::size_t>(&file, 4, 1, jc, nullptr, nullptr);
  std::fclose(f);
  EXPECT_EQ(s.fault, Fault::TooLarge);
  EXPECT_EQ(s.at, 3);
  EXPECT_EQ(size, 0u);
  free(data);
  EXPECT_EQ(petsc_binary::WriteVector(&file, nullptr, std::size_t{1} << 31).fault, Fault::TooLarge);
}

TEST(PetscBinary, EveryTruncationRefused) {
  const MemoryFile whole = Written(WriteExample);
  for (std::size_t n = 0; n < 64; ++n) {  // inside the matrix
    MemoryFile m;
    m.bytes.assign(whole.bytes.begin(), whole.bytes.begin() + static_cast<long>(n));
    m.bytes.push_back(0);  // fmemopen needs a byte; the size says n
    petsc_binary::File file = m.Reader();
    file.size = n;
    petsc_binary::Object o{};
    EXPECT_EQ(petsc_binary::ReadHeader(file, 0, &o).fault, Fault::Truncated) << n;
    std::fclose(file.f);
  }
}

// The example with 4 bytes at `at` replaced, big-endian v.
petsc_binary::Status Corrupt(std::size_t at, std::uint32_t v) {
  MemoryFile m = Written(WriteExample);
  for (int k = 0; k < 4; ++k) m.bytes[at + k] = static_cast<char>(v >> (24 - 8 * k));
  petsc_binary::File file = m.Reader();
  petsc_binary::Object o{};
  petsc_binary::Status s = petsc_binary::ReadHeader(file, 0, &o);
  if (s.fault == Fault::None) s = petsc_binary::CheckMatrix(file, o, nullptr);
  std::fclose(file.f);
  return s;
}

TEST(PetscBinary, CorruptFieldsRefused) {
  EXPECT_EQ(Corrupt(0, 42).fault, Fault::ClassId);
  EXPECT_EQ(Corrupt(0, 1211218).fault, Fault::Unsupported);       // an index set
  EXPECT_EQ(Corrupt(12, 0xffffffffu).fault, Fault::Unsupported);  // dense
  EXPECT_EQ(Corrupt(4, 0x80000000u).fault, Fault::NegativeSize);
  EXPECT_EQ(Corrupt(8, 0xfffffffeu).fault, Fault::NegativeSize);
  EXPECT_EQ(Corrupt(12, 0x7fffffffu).fault, Fault::Truncated);  // a huge count: no allocation
  EXPECT_EQ(Corrupt(16, 5).fault, Fault::RowLength);            // more than the columns
  EXPECT_EQ(Corrupt(16, 0xffffffffu).fault, Fault::RowLength);
  EXPECT_EQ(Corrupt(24, 1).fault, Fault::RowTotal);
  const petsc_binary::Status c = Corrupt(28, 4);  // column 4 of 4
  EXPECT_EQ(c.fault, Fault::Column);
  EXPECT_EQ(c.at, 0);
  EXPECT_EQ(Corrupt(36, 0).fault, Fault::Column);  // row 2: columns 1 then 0
}

}  // namespace
