// The entry of a plug-in built as an Octave-native function: Octave's arguments and results
// through the plug-in's mexFunction, over the operations of octave_api.h.
#ifndef NURBS_GATEWAY_OCTAVE_BINDING_H_
#define NURBS_GATEWAY_OCTAVE_BINDING_H_

#include <octave/oct.h>

#include "octave_api.h"

namespace octave_binding {

using Entry = void (*)(int nlhs, Array* plhs[], int nrhs, const Array* prhs[]);

// Calls entry as the MEX interface would (max(nargout, 1) result slots) and returns the results
// it made, the values themselves. name is the function's, for messages.
octave_value_list Enter(const char* name, Entry entry, const octave_value_list& args,
                        int nargout);

}  // namespace octave_binding

// The plug-in's own entry, as its source defines it.
extern "C" void mexFunction(int nlhs, octave_binding::Array* plhs[], int nrhs,
                            const octave_binding::Array* prhs[]);

#endif  // NURBS_GATEWAY_OCTAVE_BINDING_H_
