// Errors that leave the library: every failing operation throws
// vellix::AutomationError, the formats module's error (see
// vellix/formats/error.h), with the run-time error numbers beside it.
#pragma once

#include "vellix/formats/error.h"

namespace vellix {

using formats::AutomationError;
using formats::DescriptionOf;
using formats::ErrorNumber;
using formats::PlainMessage;
using enum formats::ErrorNumber;

}  // namespace vellix
