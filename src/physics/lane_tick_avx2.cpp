// The lane-parallel tick and ball prediction with 256-bit AVX2 registers:
// four environments per instruction, called only when the processor has AVX2. The target switch
// comes after every shared header, so inline and template code that other
// files also emit is never compiled for AVX2 here. FMA stays off: contraction
// would change the bits.
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

#pragma GCC target("avx2")

#define VEXLO_LANE_WIDTH 4
#define VEXLO_LANE_NS lanes_avx2
#define VEXLO_LANE_ENTRY step_lanes_avx2
#define VEXLO_PREDICT_ENTRY predict_lanes_avx2
#define VEXLO_PREDICT_BLOCK_ENTRY predict_block_avx2
#define VEXLO_WORKSPACE_ENTRY make_lane_workspace_avx2
#include "lane_tick_impl.hpp"
#include "lane_predict_impl.hpp"
#include "lane_workspace_impl.hpp"
