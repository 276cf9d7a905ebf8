// Octave's own binding of the gateway: the MEX interface's operations (octave_api.h) over
// Octave's arrays, and the entry through which Octave calls a plug-in built as an Octave-native
// function (Name.oct).
//
// Arguments are read in place. Results are made as the NDArray or SparseMatrix they are returned
// as: nothing is copied on return (Octave's MEX interface copies every output into a new array),
// and a large result's memory is advised onto huge pages before its first touch. A fault raises
// Octave's error with the plug-in's identifier, worded as Octave's MEX interface words it
// ("Name: message"); it unwinds the call, which frees every result made so far. A long call
// polls Octave's interrupt (Ctrl-C) and stops within milliseconds, everything freed.
#include "octave_binding.h"

#include <octave/oct.h>
#include <octave/defun-int.h>
#include <octave/ov-dld-fcn.h>
#include <octave/quit.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "checks.h"
#include "threads.h"

namespace gateway {
[[noreturn]] void Interrupt();  // gateway.h's, which speaks of the MEX interface's names
}

namespace octave_binding {

struct Array {
  const octave_value* arg;  // an argument; nullptr for a result
  int result;               // a result's place in the call's table
};

namespace {

constexpr int kMaxResults = 32;   // more than any plug-in makes
constexpr int kSmallCall = 16;    // arguments held on the stack

// A result: the Octave array it is returned as, and its data where the gateway writes it.
struct Result {
  bool sparse;
  alignas(NDArray) unsigned char dense[sizeof(NDArray)];
  alignas(SparseMatrix) unsigned char matrix[sizeof(SparseMatrix)];
  double* pr;
  Index* ir;
  Index* jc;
  NDArray& Dense() { return *std::launder(reinterpret_cast<NDArray*>(dense)); }
  SparseMatrix& Sparse() { return *std::launder(reinterpret_cast<SparseMatrix*>(matrix)); }
};

// The call in progress: one at a time (Octave's interpreter is one thread). Its results are freed
// when it ends, by return or by an error's unwinding; those returned live on in their values.
struct Call {
  const char* name;
  Array arrays[kMaxResults];
  Result results[kMaxResults];
  int made = 0;
  std::vector<NDArray> converted;  // arguments Octave holds in another form (a range)
  std::vector<std::string> classes;

  explicit Call(const char* n) : name(n) {}
  ~Call() {
    for (int k = 0; k < made; ++k) {
      if (results[k].sparse) {
        results[k].Sparse().~SparseMatrix();
      } else {
        results[k].Dense().~NDArray();
      }
    }
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
};

Call* g_call = nullptr;

// Memory as an Octave array's allocator gives it, freed unless handed over to the array.
template <typename T>
T* Allocate(std::size_t count);

template <typename T>
struct Owned {
  explicit Owned(std::size_t count) : n(count), p(Allocate<T>(count)) {}
  ~Owned() {
    if (p != nullptr) std::allocator<T>().deallocate(p, n);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  T* get() const { return p; }
  T* release() {
    T* q = p;
    p = nullptr;
    return q;
  }
  std::size_t n;
  T* p;
};

Result& ResultOf(const Array* a) { return g_call->results[a->result]; }

Array* NewResult(bool sparse) {
  if (g_call->made == kMaxResults) mexErrMsgTxt("made more results than any call can return.");
  const int k = g_call->made;
  g_call->results[k].sparse = sparse;
  g_call->arrays[k] = {nullptr, k};
  return &g_call->arrays[k];
}

// A dense result on memory of our own, which the array adopts (it frees it with operator delete,
// as its allocator would): Octave's own constructor writes every element first, and the pages it
// touches are then 4 KB ones. Here they are advised before anything touches them, and only a
// result asked for as zeros is written before the plug-in writes it.
// The system's refusal of a result's memory as the call's own outOfMemory, as its MEX build
// words it where the gateway asks first (gateway::ResultsFit), rather than Octave:bad-alloc.
[[noreturn]] void NoMemory(std::size_t bytes) {
  char id[160];
  std::snprintf(id, sizeof id, "%s:outOfMemory", g_call->name);
  mexErrMsgIdAndTxt(id, "a result of %zu bytes could not be made (out of memory).", bytes);
}

template <typename T>
T* Allocate(std::size_t count) {
  try {
    return std::allocator<T>().allocate(count);
  } catch (const std::bad_alloc&) {
  }
  NoMemory(count * sizeof(T));  // outside the handler: Octave's error unwinds as an exception
}

Array* NewDense(std::size_t m, std::size_t n, bool zero) {
  Array* a = NewResult(false);
  Result& r = g_call->results[a->result];
  const std::size_t count = m * n;
  double* data = Allocate<double>(count);
  gateway::AdviseHugePages(data, count * sizeof(double));
  if (zero) std::fill_n(data, count, 0.0);
  // From a temporary, so that the array is the memory's only owner and fortran_vec() no copy.
  NDArray* made = new (r.dense) NDArray(::Array<double>(
      data, dim_vector(static_cast<octave_idx_type>(m), static_cast<octave_idx_type>(n))));
  ++g_call->made;
  r.pr = made->fortran_vec();
  return a;
}

bool Poll() { return octave_interrupt_state > 0; }

}  // namespace

double* mxGetPr(const Array* a) {
  if (a->arg == nullptr) return ResultOf(a).pr;
  const octave_value& v = *a->arg;
  if (v.isempty()) return nullptr;
  if (v.issparse() && v.is_double_type() && !v.iscomplex()) {
    // The argument's own values: a shallow copy shares them, and its const view makes none.
    const SparseMatrix m = v.sparse_matrix_value();
    return m.data();
  }
  const void* data = v.mex_get_data(::mxDOUBLE_CLASS, ::mxREAL);
  if (data == nullptr && v.is_double_type() && !v.iscomplex() && !v.issparse()) {
    g_call->converted.push_back(v.array_value());
    data = g_call->converted.back().data();
  }
  return static_cast<double*>(const_cast<void*>(data));
}

std::size_t mxGetM(const Array* a) {
  if (a->arg == nullptr) {
    Result& r = ResultOf(a);
    return static_cast<std::size_t>(r.sparse ? r.Sparse().rows() : r.Dense().rows());
  }
  return static_cast<std::size_t>(a->arg->rows());
}

std::size_t mxGetN(const Array* a) {
  if (a->arg == nullptr) {
    Result& r = ResultOf(a);
    return static_cast<std::size_t>(r.sparse ? r.Sparse().cols() : r.Dense().cols());
  }
  return static_cast<std::size_t>(a->arg->dims().numel(1));
}

std::size_t mxGetNumberOfElements(const Array* a) {
  if (a->arg == nullptr) {
    Result& r = ResultOf(a);
    return static_cast<std::size_t>(r.sparse ? r.Sparse().numel() : r.Dense().numel());
  }
  return static_cast<std::size_t>(a->arg->numel());
}

bool mxIsDouble(const Array* a) { return a->arg == nullptr || a->arg->is_double_type(); }
bool mxIsComplex(const Array* a) { return a->arg != nullptr && a->arg->iscomplex(); }
bool mxIsSparse(const Array* a) {
  return a->arg == nullptr ? ResultOf(a).sparse : a->arg->issparse();
}

const char* mxGetClassName(const Array* a) {
  if (a->arg == nullptr) return "double";
  g_call->classes.push_back(a->arg->class_name());
  return g_call->classes.back().c_str();
}

Array* mxCreateDoubleMatrix(std::size_t m, std::size_t n, Complexity) {
  return NewDense(m, n, true);
}

Array* mxCreateUninitNumericMatrix(std::size_t m, std::size_t n, ClassID, Complexity) {
  return NewDense(m, n, false);
}

Array* mxCreateDoubleScalar(double value) {
  Array* a = NewDense(1, 1, false);
  ResultOf(a).pr[0] = value;
  return a;
}

Array* mxCreateSparse(std::size_t m, std::size_t n, std::size_t nzmax, Complexity) {
  // On memory of our own too, as NewDense's: the values and rows advised and left for the
  // plug-in to write (what it leaves past its entries is given back on return), the column
  // starts zeroed.
  Array* a = NewResult(true);
  Result& r = g_call->results[a->result];
  const std::size_t room = nzmax > 0 ? nzmax : 1;
  Owned<double> values(room);
  Owned<Index> rows(room);
  Index* starts = Allocate<Index>(n + 1);
  std::fill_n(starts, n + 1, Index{0});
  gateway::AdviseHugePages(values.get(), room * sizeof(double));
  gateway::AdviseHugePages(rows.get(), room * sizeof(Index));
  SparseMatrix* made = new (r.matrix) SparseMatrix(::Sparse<double>(
      dim_vector(static_cast<octave_idx_type>(m), static_cast<octave_idx_type>(n)),
      static_cast<octave_idx_type>(room), values.release(), rows.release(), starts));
  ++g_call->made;
  r.pr = made->data();
  r.ir = made->ridx();
  r.jc = made->cidx();
  return a;
}

// A sparse argument's rows and column starts are its own, read in place as its values are.
Index* mxGetIr(const Array* a) {
  if (a->arg != nullptr) return static_cast<const SparseMatrix>(a->arg->sparse_matrix_value()).ridx();
  return ResultOf(a).ir;
}
Index* mxGetJc(const Array* a) {
  if (a->arg != nullptr) return static_cast<const SparseMatrix>(a->arg->sparse_matrix_value()).cidx();
  return ResultOf(a).jc;
}

void mexErrMsgTxt(const char* message) {
  error("%s: %s", g_call != nullptr ? g_call->name : "nurbsbasis", message);
}

void mexErrMsgIdAndTxt(const char* id, const char* format, ...) {
  char message[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  error_with_id(id, "%s: %s", g_call != nullptr ? g_call->name : "nurbsbasis", message);
}

namespace {

// Calls entry as the MEX interface would (max(nargout, 1) result slots) and returns the results
// it made, the values themselves. name is the function's, for messages.
octave_value_list Enter(const char* name, Entry entry, const octave_value_list& args,
                        int nargout) {
  const int nrhs = static_cast<int>(args.length());
  const int nlhs = nargout;
  const int slots = nlhs > 1 ? nlhs : 1;
  Call call(name);
  // One call at a time: a plug-in never calls back into Octave, so there is no nesting.
  struct Current {
    explicit Current(Call* c) {
      g_call = c;
      evaluators::BeginInterruptible(Poll);
    }
    ~Current() {
      evaluators::EndInterruptible();
      g_call = nullptr;
    }
  } current(&call);

  Array small[kSmallCall];
  const Array* small_in[kSmallCall];
  std::vector<Array> many;
  std::vector<const Array*> many_in;
  Array* in = small;
  const Array** prhs = small_in;
  if (nrhs > kSmallCall) {
    many.resize(static_cast<std::size_t>(nrhs));
    many_in.resize(static_cast<std::size_t>(nrhs));
    in = many.data();
    prhs = many_in.data();
  }
  for (int k = 0; k < nrhs; ++k) {
    in[k] = {&args(k), -1};
    prhs[k] = &in[k];
  }
  Array* plhs[kMaxResults] = {};
  if (slots > kMaxResults) {
    error_with_id("Octave:invalid-fun-call", "%s: %d outputs requested, more than any call has.",
                  name, nlhs);
  }
  entry(nlhs, plhs, nrhs, prhs);

  octave_value_list out(slots);
  int returned = 0;
  for (int k = 0; k < slots && plhs[k] != nullptr; ++k) {
    Result& r = ResultOf(plhs[k]);
    if (r.sparse) {
      // Room the entries did not take (those that summed to 0) is given back, as the MEX
      // interface's copy does: the same nzmax from either build.
      SparseMatrix& sp = r.Sparse();
      if (sp.nnz() < sp.nzmax()) sp.maybe_compress(false);
      out(k) = octave_value(sp);
    } else {
      out(k) = octave_value(r.Dense());
    }
    returned = k + 1;
  }
  out.resize(returned);
  return out;
}

// The module's plug-in, as its installer gave it.
const char* g_name = nullptr;
Entry g_entry = nullptr;

octave_value_list Dispatch(const octave_value_list& args, int nargout) {
  return Enter(g_name, g_entry, args, nargout);
}

}  // namespace

octave_function* Install(const char* name, const char* doc, Entry entry,
                         const octave::dynamic_library& library, bool relative) {
  check_version(OCTAVE_API_VERSION, name);
  g_name = name;
  g_entry = entry;
  octave_dld_function* function = octave_dld_function::create(Dispatch, library, name, doc);
  if (relative) function->mark_relative();
  return function;
}

}  // namespace octave_binding

namespace gateway {

void Interrupt() {
  octave_quit();  // Octave's own handling of the pending interrupt, which throws
  throw octave::interrupt_exception();
}

}  // namespace gateway
