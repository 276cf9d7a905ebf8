// What the hierarchy's two halves share: its structures, sets with lookups, and cell indices.
#ifndef NURBS_HIERARCHICAL_HIERARCHY_INTERNAL_H_
#define NURBS_HIERARCHICAL_HIERARCHY_INTERNAL_H_

#include <cstddef>
#include <cstdint>

#include "hierarchical.h"

namespace hierarchical {
namespace internal {

using evaluators::Axis;

// Blocks freed together; a failed Take leaves the arena failed.
struct Arena {
  void** blocks = nullptr;
  std::size_t count = 0, capacity = 0;
  bool failed = false;
  void* Take(std::size_t bytes);
  void Free();
};

inline std::size_t Hash(std::uint64_t k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdULL;
  k ^= k >> 33;
  return static_cast<std::size_t>(k);
}

// Sorted unique keys with a hash table of their positions.
struct Set {
  std::uint64_t* key = nullptr;
  std::size_t count = 0;
  std::uint32_t* table = nullptr;  // position + 1; 0: empty
  std::size_t mask = 0;
  std::int64_t Find(std::uint64_t k) const;  // the key's position, or -1
};
// keys: sorted, unique, the arena's; false where memory ran out.
bool MakeSet(Arena* arena, std::uint64_t* keys, std::size_t count, Set* set);

// A growing set of keys that remembers their order of insertion (refinement's marks).
struct Marks {
  std::uint64_t* table = nullptr;  // key + 1; 0: empty
  std::uint64_t* order = nullptr;
  std::size_t count = 0, size = 0, mask = 0;
  bool Has(std::uint64_t k) const;
  bool Add(std::uint64_t k);  // false where memory ran out
  void Free();
};

// One direction of a patch at every level, from level 0's tables: level l has S = s^l cells in
// every cell of level 0, its knots level 0's with S - 1 more in every element, the t-th of
// element j at a_j + (b_j - a_j) (t / S) (so that a coarser level's knots are a finer one's, bit
// for bit: t / S is correctly rounded, and (s t) / (s S) is the same number).
struct Direction {
  int p, n0, m0, nel0;
  const double* U0;
  int* span0;   // level 0's element spans
  int* gspan0;  // the geometry's span of each element of level 0
};
int Cells(const Direction& a, std::uint64_t S);      // elements of the level
int Functions(const Direction& a, std::uint64_t S);  // functions of the level
int Span(const Direction& a, std::uint64_t S, int e);
// The last element of level 0 whose first span at this level is at most sigma (-1: none).
int LastStartAtMost(const Direction& a, std::uint64_t S, long long sigma);
double Knot(const Direction& a, std::uint64_t S, int i);
// Function i's support: elements lo..hi (empty where lo > hi).
void Support(const Direction& a, std::uint64_t S, int i, int* lo, int* hi);
// The element that holds x (clamped to the domain; on a breakpoint, the element starting there).
int ElementOfPoint(const Direction& a, std::uint64_t S, double x);
// U[span - p .. span + p + 1] into w (2p + 2 knots).
void Window(const Direction& a, std::uint64_t S, int span, double* w);

struct Level {
  std::uint64_t S;  // s^l
  int nel[kMaxDirections];
  int nfun[kMaxDirections];
  std::uint64_t ncell, nfunctions;
  Set refined;                 // R_l
  std::uint8_t* hasActive;     // per refined cell: a function of this level active on it
  Set cells;                   // active cells
  Set active;                  // active functions
  Set trunc;                   // functions whose support lies in Omega^l (l >= 1)
  std::size_t firstFunction;   // the patch's local index of active.key[0]
  std::size_t firstElement;    // the element of cells.key[0]
};

struct PatchData {
  const mesh::Mesh* base;
  mesh::Mesh mesh;  // base as a B-spline space, every element, no side: an element's shape
  Direction axis[kMaxDirections];
  const double* weights;  // level 0's, or nullptr
  bool rational;
  int d, p[kMaxDirections], nloc;
  int levels;  // levels held: 0 .. the finest refined level + 1
  Level* level;
  std::size_t functions, firstLocal, firstElement, elements;
  std::size_t* global;  // local -> global function
};


}  // namespace internal

struct Hierarchy {
  internal::Arena arena;
  int npatch, d;
  Options options;
  internal::PatchData* patch;
  std::size_t ndof, nel;
  int levels;
  int maxRows;     // rows a change of basis may hold: levels x nloc at most
  int maxLocal;    // the largest nloc
  int maxDegree;
  int* ownerPatch;  // global function -> the patch and local index it was numbered from
  std::size_t* ownerLocal;
  const domain::Interface* interfaces;
  int ninterfaces;
};

namespace internal {

// A cell's index per direction in level L, and back; a function's tensor index likewise.
// A tensor index of counts n (the first direction fastest) to its position and back.
std::uint64_t EncodeIndex(const int n[kMaxDirections], int d, const int e[kMaxDirections]);
void DecodeIndex(const int n[kMaxDirections], int d, std::uint64_t c, int e[kMaxDirections]);
void Decode(const Level& L, int d, std::uint64_t cell, int e[kMaxDirections]);
// A patch's level l: s^l.
std::uint64_t Scale(int s, int level);
std::uint64_t Encode(const Level& L, int d, const int e[kMaxDirections]);
void DecodeFunction(const Level& L, int d, std::uint64_t f, int i[kMaxDirections]);
std::uint64_t EncodeFunction(const Level& L, int d, const int i[kMaxDirections]);

// Whether refined cell `cell` of L carries an active function of L.
bool RefinedFlag(const Level& L, std::uint64_t cell);

struct Located {
  int patch, level;
  std::uint64_t cell;
  int e[kMaxDirections];
};
Located Locate(const Hierarchy& h, std::size_t element);

}  // namespace internal
}  // namespace hierarchical

#endif  // NURBS_HIERARCHICAL_HIERARCHY_INTERNAL_H_
