#include "debounce limits.h"
