// The argument lists the plug-ins share. A plug-in takes a prefix of one of these: the surface
// plug-ins that search their spans take the first six of kSurface, the B-spline surface the first
// five, the ones given their spans all seven.
#ifndef NURBS_GATEWAY_ARGS_H_
#define NURBS_GATEWAY_ARGS_H_

#include "gateway.h"

namespace gateway {

constexpr ArgRule kCurveArgs[] = {
    {"xi", Arg::Point},
    {"p", Arg::Degree},
    {"knot", Arg::Knots},
    {"weights", Arg::Values},
};

constexpr ArgRule kCurveFieldArgs[] = {
    {"xi", Arg::Point},      {"p", Arg::Degree},       {"knot", Arg::Knots},
    {"points", Arg::Values}, {"weights", Arg::Values},
};

constexpr ArgRule kSurfaceArgs[] = {
    {"xi", Arg::Point},    {"p", Arg::Degree},       {"q", Arg::Degree},    {"knotU", Arg::Knots},
    {"knotV", Arg::Knots}, {"weights", Arg::Values}, {"spans", Arg::Spans},
};

constexpr ArgRule kVolumeArgs[] = {
    {"xi", Arg::Point},    {"p", Arg::Degree},       {"q", Arg::Degree},
    {"r", Arg::Degree},    {"knotU", Arg::Knots},    {"knotV", Arg::Knots},
    {"knotW", Arg::Knots}, {"weights", Arg::Values}, {"spans", Arg::Spans},
};

}  // namespace gateway

#endif  // NURBS_GATEWAY_ARGS_H_
