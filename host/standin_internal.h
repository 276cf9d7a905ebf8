// Between the stand-in's libraries and its loader; not for tests.
#ifndef NURBS_HOST_STANDIN_INTERNAL_H_
#define NURBS_HOST_STANDIN_INTERNAL_H_

#include <vector>

#include "mex_api.h"

namespace standin {

// While set, every array this thread creates is appended to *list (nullptr stops it).
void TrackCreated(std::vector<mxArray*>* list);

}  // namespace standin

extern "C" {
// libmex: runs entry(nlhs, plhs, nrhs, prhs) and returns 0, or 1 if it raised an error; then
// id and message hold what it raised (id empty for mexErrMsgTxt).
int standinRunMex(void (*entry)(int, mxArray**, int, const mxArray**), int nlhs, mxArray** plhs,
                  int nrhs, const mxArray** prhs, char* id, size_t idSize, char* message,
                  size_t messageSize);
}

#endif  // NURBS_HOST_STANDIN_INTERNAL_H_
