// Errors that leave the library: every failing operation throws
// vellix::AutomationError (see vellix/formats/error.h).
#pragma once

#include "vellix/formats/error.h"
