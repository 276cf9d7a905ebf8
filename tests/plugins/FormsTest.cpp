// The forms' native cores through the stand-in host.
#include <gtest/gtest.h>

#include "mesh_case.h"
#include "plugin_test.h"
