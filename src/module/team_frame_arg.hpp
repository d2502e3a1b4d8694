#pragma once

#include <Python.h>

#include "vexlo/batch.hpp"

namespace vexlo::py {

// The six values slots, pos_mul, vel_mul, pos_off, opp_goal and mirror that
// make a team observation's frame, from args[0..5]; false with the Python
// error set when one does not convert.
bool to_team_frame(PyObject* const* args, TeamFrame& frame);

}  // namespace vexlo::py
