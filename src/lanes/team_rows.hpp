#pragma once

#include <cstddef>

#include "vexlo/batch.hpp"

// The default team observation's rows for several environments per
// instruction, with the same bits as the scalar rows (write_team_rows).
namespace vexlo {

// Rows [begin, end) of `frame`'s observation of `state`, at their rows of the
// dense `out`; `ahead` holds every environment's k predicted ball positions.
struct TeamRowsJob {
    const BatchStateView* state;
    const TeamFrame* frame;
    const double* ahead;  // (N, k, 2), dense
    std::size_t k;
    std::size_t begin, end;
    float* out;
};

// Writes the rows of the job's first whole groups of lane_width()
// environments and returns the first row it left for the scalar code (begin
// itself at the scalar width).
std::size_t write_team_rows_in_lanes(const TeamRowsJob& job);

}  // namespace vexlo
