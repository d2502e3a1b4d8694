#pragma once

// Stepping lane groups of a batch's environments: shared by the calls that
// step (step, step_observe).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "batch/state.hpp"
#include "lanes/lanes.hpp"
#include "vexlo/batch.hpp"
#include "vexlo/world.hpp"

namespace vexlo {

inline constexpr std::int8_t NO_GOAL = -1;

// The environments of a batch are copies of one template, and no operation
// changes their geometry or their discs' fixed properties afterwards.
inline constexpr bool UNIFORM = true;

// Environments go to the engine in groups of lane_width(), which steps a
// whole group per instruction where the processor allows; the pool hands out
// groups. Each environment reads its own (P, 3) slice of the actions through
// the view's strides.
struct StepTask {
    World* worlds;
    std::size_t n_envs;
    const StridedView<std::int64_t, 3>* actions;
    std::int8_t* scored;
    std::size_t n_players;
    std::uint64_t tick_skip;
    std::size_t width;
    LaneWorkspace* workspace;

    // Room for a group's inputs, left unset: setting all MAX_LANES *
    // MAX_PLAYERS of them would cost a lone world's call more than its tick.
    // Only the used ones are assigned, which starts their lives.
    union InputRows {
        InputRows() {}
        PlayerInput rows[MAX_LANES][MAX_PLAYERS];
    };

    void operator()(std::size_t participant, std::size_t group_begin,
                    std::size_t group_end) const noexcept {
        const StridedView<std::int64_t, 3>& a = *actions;
        for (std::size_t g = group_begin; g < group_end; ++g) {
            const std::size_t first = g * width;
            const std::size_t count = std::min(width, n_envs - first);
            InputRows in;
            auto& inputs = in.rows;
            std::array<World*, MAX_LANES> group{};
            std::array<const PlayerInput*, MAX_LANES> per_env{};
            for (std::size_t l = 0; l < count; ++l) {
                const std::size_t e = first + l;
                for (std::size_t p = 0; p < n_players; ++p)
                    inputs[l][p] = PlayerInput{a(e, p, 0), a(e, p, 1), a(e, p, 2)};
                group[l] = &worlds[e];
                per_env[l] = inputs[l];
            }
            step_lanes(LaneRun{group.data(), count, per_env.data(), per_env.data(), tick_skip,
                               true, scored + first, UNIFORM, workspace, participant});
        }
    }
};

// Refuses actions that are not (n, n_players, 3); `call` names the
// refusing call in the message.
inline BatchStatus check_step_actions(const char* call, const StridedView<std::int64_t, 3>& actions,
                                      std::size_t n, std::size_t n_players) {
    if (static_cast<std::size_t>(actions.shape[0]) == n &&
        static_cast<std::size_t>(actions.shape[1]) == n_players && actions.shape[2] == 3)
        return std::nullopt;
    return BatchError{BatchError::Kind::InvalidArgument,
                      std::string(call) + ": actions shape " + shape_text(actions) +
                          " != expected (n_envs=" + decimal(n) + ", n_players=" +
                          decimal(n_players) + ", 3)"};
}

}  // namespace vexlo
