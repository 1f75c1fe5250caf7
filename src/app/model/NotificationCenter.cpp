#include "model/NotificationCenter.h"
