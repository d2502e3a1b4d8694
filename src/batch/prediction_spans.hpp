#pragma once

#include <cstddef>
#include <cstdint>

#include "vexlo/world.hpp"

namespace vexlo {

// How many ticks a prediction over n worlds like w runs between two looks
// for an interruption: a small fraction of a second in all. A prediction no
// longer than that may run without looking.
std::uint64_t prediction_span_ticks(const World& w, std::size_t n);

}  // namespace vexlo
