#pragma once

// The lane-parallel engine's interface under its former name, for the batch
// code until it includes lanes/lanes.hpp itself.
#include "lanes/lanes.hpp"
