// The entry of a plug-in built as an Octave-native function. Octave loads Name.oct and calls its
// installer GName, which each plug-in's generated source defines (octave_entry.sh) by calling
// Install with the plug-in's name, help text and mexFunction. Free of Octave's headers, so that
// those sources compile in no time; the binding (octave_binding.cpp) holds all of the API.
#ifndef NURBS_GATEWAY_OCTAVE_BINDING_H_
#define NURBS_GATEWAY_OCTAVE_BINDING_H_

#include "octave_api.h"

class octave_function;
namespace octave {
class dynamic_library;
}

namespace octave_binding {

using Entry = void (*)(int nlhs, Array* plhs[], int nrhs, const Array* prhs[]);

// The function Octave installs as `name`, with help text `doc`: a call runs entry as the MEX
// interface would (max(nargout, 1) result slots) and returns the results it made, the values
// themselves. One plug-in a module: the module keeps name and entry for its calls.
octave_function* Install(const char* name, const char* doc, Entry entry,
                         const octave::dynamic_library& library, bool relative);

}  // namespace octave_binding

// The plug-in's own entry, as its source defines it.
extern "C" void mexFunction(int nlhs, octave_binding::Array* plhs[], int nrhs,
                            const octave_binding::Array* prhs[]);

#endif  // NURBS_GATEWAY_OCTAVE_BINDING_H_
