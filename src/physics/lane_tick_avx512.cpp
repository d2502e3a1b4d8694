// The lane-parallel tick and ball prediction with 512-bit AVX-512 registers:
// eight environments per instruction, called only when the processor has
// AVX-512. The target switch comes after every shared header, so inline and
// template code that other files also emit is never compiled for AVX-512
// here. FMA stays off: contraction would change the bits.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "clear_box.hpp"
#include "contacts.hpp"
#include "lane_tick.hpp"
#include "predict.hpp"

#pragma GCC target("avx512f")

#define VEXLO_LANE_WIDTH 8
#define VEXLO_LANE_NS lanes_avx512
#define VEXLO_LANE_ENTRY step_lanes_avx512
#define VEXLO_PREDICT_ENTRY predict_lanes_avx512
#define VEXLO_PREDICT_BLOCK_ENTRY predict_block_avx512
#define VEXLO_WORKSPACE_ENTRY make_lane_workspace_avx512
#include "lane_tick_impl.hpp"
#include "lane_predict_impl.hpp"
#include "lane_workspace_impl.hpp"
