// kivrun's numeric option checks are the ones kivinst uses too: see
// tools/cli_numbers/.
#pragma once

#include "cli_numbers.h"
