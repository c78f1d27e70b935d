// The voxlum tool's work as Python functions: convert, info, compare and make, through the same
// formats library the command line runs, with its options as keyword arguments.
#pragma once

#include <pybind11/pybind11.h>

namespace voxlumpy {

void defineToolFunctions(pybind11::module_& module);

}  // namespace voxlumpy
