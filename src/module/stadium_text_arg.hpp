#pragma once

#include <Python.h>

#include <optional>
#include <string_view>

namespace vexlo::py {

// The UTF-8 bytes of a stadium text argument (a str), valid while `text`
// lives. A str that UTF-8 cannot hold (an unpaired surrogate) raises the
// ValueError of any other bad stadium text, naming the place as the decoder
// does; anything but a str raises a TypeError naming the argument `vxs`.
std::optional<std::string_view> stadium_text_arg(PyObject* text);

}  // namespace vexlo::py
