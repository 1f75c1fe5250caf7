#pragma once

#include "run/Runner.h"
