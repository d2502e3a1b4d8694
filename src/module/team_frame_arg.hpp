#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "vexlo/batch.hpp"

namespace vexlo::py {

// The seven arguments slots, pos_mul, vel_mul, pos_off, opp_goal, mirror and
// offsets of the calls that build a team observation, from args[0..6]; false
// with the Python error set when one does not convert.
bool to_team_frame(PyObject* const* args, TeamFrame& frame, std::vector<std::uint64_t>& offsets);

}  // namespace vexlo::py
