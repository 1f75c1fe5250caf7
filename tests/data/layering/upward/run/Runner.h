#pragma once

// A runner that reaches up into the scheduler: the layer check must refuse it.
#include "scheduler/Planner.h"
