// The error that ends the reading of an OEBFF container.
//
// The container parser raises it with one of the codes of OEBFFError; it
// never leaves the toolkit: OEBFFReader catches it and keeps the code.
#pragma once

#include "vellix/formats/oebff_error.h"

namespace ikpubx {

using vellix::formats::ComposeDiagnostic;
using vellix::formats::OEBFFError;
using enum vellix::formats::OEBFFError;
using COEBFFContainerException = vellix::formats::OEBFFContainerError;

}  // namespace ikpubx
