// goals, wall_segments and obstacle_discs: the stadium's fixed geometry
// (every environment has the same stadium).
#include <array>
#include <cstddef>
#include <vector>

#include "arrays.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

// A (rows, W) float64 array holding the rows in order.
template <std::size_t W>
PyObject* rows_array(const std::vector<std::array<double, W>>& rows) {
    const npy_intp dims[2] = {static_cast<npy_intp>(rows.size()), static_cast<npy_intp>(W)};
    double* data = nullptr;
    Ref array = new_array(2, dims, NPY_FLOAT64, data);
    if (!array) return nullptr;
    for (const auto& row : rows) {
        for (double v : row) *data++ = v;
    }
    return array.release();
}

}  // namespace

PyObject* vecenv_goals(Batch& b, PyObject* const*) {
    const std::vector<Goal>& goals = b.goals();
    const auto g = static_cast<npy_intp>(goals.size());
    const npy_intp point_dims[2] = {g, 2};
    const npy_intp team_dims[1] = {g};
    double* p0 = nullptr;
    double* p1 = nullptr;
    std::int64_t* team = nullptr;
    Ref p0_array = new_array(2, point_dims, NPY_FLOAT64, p0);
    Ref p1_array = new_array(2, point_dims, NPY_FLOAT64, p1);
    Ref team_array = new_array(1, team_dims, NPY_INT64, team);
    if (!p0_array || !p1_array || !team_array) return nullptr;
    for (const Goal& goal : goals) {
        *p0++ = goal.p0.x;
        *p0++ = goal.p0.y;
        *p1++ = goal.p1.x;
        *p1++ = goal.p1.y;
        *team++ = goal.team;
    }
    return make_tuple(p0_array, p1_array, team_array);
}

PyObject* vecenv_wall_segments(Batch& b, PyObject* const*) { return rows_array(b.wall_segments()); }

PyObject* vecenv_obstacle_discs(Batch& b, PyObject* const*) {
    return rows_array(b.obstacle_discs());
}

}  // namespace vexlo::py
