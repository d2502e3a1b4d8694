#pragma once

#include <algorithm>
#include <cstddef>

#include "batch/worker_pool.hpp"
#include "lanes/lanes.hpp"
#include "vexlo/batch.hpp"

namespace vexlo {

// Rows [begin, end) of the default team observation of `state` in `frame`
// (see Batch::team_observation), with `ahead` holding every environment's K
// predicted ball positions, at their rows of the dense `out`: whole groups of
// lane_width() environments through the vector rows, the rest one by one.
void write_team_rows(const BatchStateView& state, const TeamFrame& frame, const double* ahead,
                     std::size_t k, std::size_t begin, std::size_t end, float* out) noexcept;
// The same rows one environment after the other, without vector instructions.
void write_scalar_team_rows(const BatchStateView& state, const TeamFrame& frame,
                            const double* ahead, std::size_t k, std::size_t begin,
                            std::size_t end, float* out) noexcept;

// Rows are independent, so the pool may spread them over its threads in
// any way: the bits do not depend on it. It hands out whole lane groups, as
// a share of rows cut anywhere would leave more of them to the scalar code.
struct RowsTask {
    const BatchStateView& st;
    const TeamFrame& frame;
    const double* ahead;
    std::size_t k;
    float* out;
    std::size_t n;
    std::size_t width;  // rows per lane group

    void operator()(std::size_t group_begin, std::size_t group_end) const noexcept {
        write_team_rows(st, frame, ahead, k, group_begin * width, std::min(n, group_end * width), out);
    }
};

// Every row of the n environments, over the shared pool.
inline void write_rows_on_pool(const BatchStateView& state, const TeamFrame& frame,
                               const double* ahead, std::size_t k, std::size_t n, float* out) {
    const std::size_t width = lane_width();
    RowsTask task{state, frame, ahead, k, out, n, width};
    shared_pool().parallel_for(group_count(n, width), task);
}

// Refuses a frame without a viewer or with a slot past the batch's players;
// `call` names the refusing call in the message.
BatchStatus check_team_frame(const char* call, const TeamFrame& frame, std::size_t n_players);

}  // namespace vexlo
