#include "model/Termination.h"
