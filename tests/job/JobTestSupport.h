#pragma once

// Kept so that existing includes keep working; the helper lives in tests/support.
#include "support/JobFixture.h"
