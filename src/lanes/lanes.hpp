#pragma once

// The lane-parallel engine as the batch code uses it: ticks (LaneRun,
// step_lanes, step_scalar), ball predictions (PredictionBlock, predict_block),
// their working memory (LaneWorkspace, make_lane_workspace) and the lane width.

#include "lanes/instruction_sets.hpp"
#include "lanes/lane_prediction.hpp"
#include "lanes/lane_run.hpp"
#include "lanes/workspace.hpp"
