#include "classic.hpp"

namespace vexlo {

const std::string_view CLASSIC_STADIUM = "{}";

}  // namespace vexlo
