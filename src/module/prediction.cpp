// predict_ball: where every environment's ball will be after given numbers of
// ticks if no player touches it.
#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "args.hpp"
#include "arrays.hpp"
#include "physics/lane_tick.hpp"
#include "physics/predict.hpp"
#include "pool.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

// Each environment writes its K positions straight into its row of the
// result, viewed as K Vec2 values: two doubles each, nothing in between.
static_assert(sizeof(Vec2) == 2 * sizeof(double) && alignof(Vec2) == alignof(double));
static_assert(std::is_standard_layout_v<Vec2> && std::is_trivially_copyable_v<Vec2>);

// Environments go to the engine in blocks of whole lane groups, each writing
// its K positions straight into its row of the result.
struct PredictTask {
    const World* worlds;
    std::size_t n_envs;
    const PredictionPlan* plan;
    Vec2* out;  // N rows of K positions
    std::size_t width;
    LaneWorkspace* workspace;
    TickSpan span;
    BallMotion* carry;  // N entries, when span is not the whole run

    void operator()(std::size_t participant, std::size_t group_begin,
                    std::size_t group_end) const noexcept {
        // The environments of a batch are copies of one template.
        predict_block(PredictionBlock{worlds, group_begin * width,
                                      std::min(n_envs, group_end * width), plan, out, true,
                                      workspace, participant, span, carry});
    }
};

// A prediction looks for a pending signal (Ctrl-C) after about this many
// ball ticks in all, a tick among w planes, segments and discs counting as
// 1 + w / 64: a small fraction of a second, and rare enough to cost nothing
// measurable.
constexpr std::uint64_t TICKS_BETWEEN_SIGNAL_CHECKS = std::uint64_t{1} << 22;

std::uint64_t ticks_per_span(const World& w, std::size_t n) {
    const std::uint64_t walls = w.planes.size() + w.segments.size() + w.first_player;
    return std::max<std::uint64_t>(1, TICKS_BETWEEN_SIGNAL_CHECKS / n / (1 + walls / 64));
}

// Reads `offsets` into tick counts. The items are taken from a tuple made
// first, so that an item's own conversion code cannot change the sequence
// being read.
bool to_offsets(PyObject* obj, std::vector<std::uint64_t>& out) {
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "argument 'offsets': expected a sequence of integers, got '%s'",
                     Py_TYPE(obj)->tp_name);
        return false;
    }
    Ref items(PySequence_Tuple(obj));
    if (!items) {
        name_type_error("offsets");
        return false;
    }
    const Py_ssize_t k = PyTuple_GET_SIZE(items.get());
    out.reserve(static_cast<std::size_t>(k));
    for (Py_ssize_t i = 0; i < k; ++i) {
        std::uint64_t ticks = 0;
        if (!to_u64(PyTuple_GET_ITEM(items.get(), i), "offsets", ticks)) return false;
        out.push_back(ticks);
    }
    return true;
}

const char* const PREDICT_PARAMS[] = {"offsets"};
const Signature PREDICT_SIGNATURE{"predict_ball", PREDICT_PARAMS, 1, 1};

}  // namespace

PyObject* vecenv_predict_ball(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    PyObject* objs[1];
    if (!bind(PREDICT_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    VecEnvObject* env = as_vecenv(self);
    SharedBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    std::vector<std::uint64_t> offsets;
    if (!to_offsets(objs[0], offsets)) return nullptr;

    const Batch& b = env->batch;
    const std::size_t n = b.worlds.size();
    const std::size_t k = offsets.size();
    const PredictionPlan plan = plan_prediction(std::move(offsets));
    const npy_intp dims[3] = {static_cast<npy_intp>(n), static_cast<npy_intp>(k), 2};
    Vec2* rows = nullptr;
    Ref result = new_array(3, dims, NPY_FLOAT64, rows);
    if (!result) return nullptr;
    if (k == 0 || n == 0) return result.release();
    WorkspaceLease workspace(env->batch.workspace, b.worlds[0], pool::participants());
    const std::size_t width = lane_width();
    // A long prediction runs in spans of ticks, the ball's motion carried
    // from one to the next; nothing outside the new result changes, so it may
    // stop after any of them.
    const std::uint64_t span_ticks = ticks_per_span(b.worlds[0], n);
    std::vector<BallMotion> carry;
    if (plan.last_tick > span_ticks) carry.resize(n);
    for (std::uint64_t after = 0;;) {
        const std::uint64_t until =
            plan.last_tick - after > span_ticks ? after + span_ticks : plan.last_tick;
        PredictTask task{b.worlds.data(), n, &plan, rows, width, workspace.get(),
                         TickSpan{after, until}, carry.data()};
        pool::parallel_for(pool::group_count(n, width), task);
        if (until == plan.last_tick) break;
        if (PyErr_CheckSignals() < 0) return nullptr;
        after = until;
    }
    return result.release();
}

}  // namespace vexlo::py
