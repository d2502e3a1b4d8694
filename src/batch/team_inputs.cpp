// Batch::team_inputs: one team's action digits turned into rows of the
// engine's (dx, dy, kick) input.
#include <cstdint>
#include <span>
#include <string>

#include "batch/state.hpp"

namespace vexlo {
namespace {

// Digits per column of an action: dx and dy take 3 values, kick 2. Seen as
// unsigned, a negative digit is huge, so one comparison bounds both sides.
constexpr std::uint64_t DIGIT_BOUND[3] = {3, 3, 2};

using Digits = StridedView<std::int64_t, 2>;  // (N, 3k)

// Both passes take the team size K as a template argument for the usual
// sizes (0: the size at run time): unrolled, a row costs about half.
template <std::size_t K>
bool all_in_range(const Digits& digits, std::size_t n, std::size_t k_at_run_time) {
    const std::size_t k = K > 0 ? K : k_at_run_time;
    bool ok = true;
    for (std::size_t e = 0; e < n; ++e) {
        for (std::size_t j = 0; j < 3 * k; j += 3) {
            for (std::size_t c = 0; c < 3; ++c)
                ok &= static_cast<std::uint64_t>(digits(e, j + c)) < DIGIT_BOUND[c];
        }
    }
    return ok;
}

template <std::size_t K, bool Mirror>
void write_rows(const Digits& digits, std::span<const std::uint64_t> slots,
                std::int64_t kick_value, std::size_t n, std::size_t p, std::int64_t* out) {
    const std::size_t k = K > 0 ? K : slots.size();
    for (std::size_t e = 0; e < n; ++e) {
        std::int64_t* row = out + e * p * 3;
        for (std::size_t i = 0; i < k; ++i) {
            std::int64_t* input = row + slots[i] * 3;
            const std::int64_t dx = digits(e, 3 * i);
            input[0] = Mirror ? 1 - dx : dx - 1;
            input[1] = digits(e, 3 * i + 1) - 1;
            input[2] = digits(e, 3 * i + 2) * kick_value;
        }
    }
}

// One thread: at 1024 environments the two passes take 2-5 us (one to three
// players a team), and spreading them over the worker pool made the call
// about twice as slow.
template <std::size_t K>
bool check_and_write(const Digits& digits, std::span<const std::uint64_t> slots, bool mirror,
                     std::int64_t kick_value, std::size_t n, std::size_t p, std::int64_t* out) {
    if (!all_in_range<K>(digits, n, slots.size())) return false;
    if (mirror)
        write_rows<K, true>(digits, slots, kick_value, n, p, out);
    else
        write_rows<K, false>(digits, slots, kick_value, n, p, out);
    return true;
}

}  // namespace

BatchStatus Batch::team_inputs(StridedView<std::int64_t, 2> digits,
                               std::span<const std::uint64_t> slots, bool mirror,
                               std::int64_t kick_value, std::int64_t* out, bool& wrote) const {
    const std::size_t n = s_->worlds.size();
    const std::size_t p = s_->n_players;
    wrote = false;
    if (static_cast<std::size_t>(digits.shape[0]) != n ||
        static_cast<std::size_t>(digits.shape[1]) != 3 * slots.size())
        return invalid("team_inputs: digits " + shape_text(digits) + " must be (n_envs=" +
                       decimal(n) + ", 3 * len(slots)=" + decimal(3 * slots.size()) + ")");
    for (std::uint64_t slot : slots) {
        if (slot >= p)
            return invalid("team_inputs: slot " + decimal(slot) + " is not below n_players " +
                           decimal(p));
    }
    if (kick_value != 1 && kick_value != 2)
        return invalid("team_inputs: kick_value " + std::to_string(kick_value) +
                       " must be 1 (kick once per press) or 2 (re-arm every tick)");

    switch (slots.size()) {
        case 1: wrote = check_and_write<1>(digits, slots, mirror, kick_value, n, p, out); break;
        case 2: wrote = check_and_write<2>(digits, slots, mirror, kick_value, n, p, out); break;
        case 3: wrote = check_and_write<3>(digits, slots, mirror, kick_value, n, p, out); break;
        default: wrote = check_and_write<0>(digits, slots, mirror, kick_value, n, p, out); break;
    }
    return std::nullopt;
}

}  // namespace vexlo
