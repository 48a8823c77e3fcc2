// One node of the tree that describes an OEBFF container (see
// vellix/formats/oebff_node.h): the container, its parts and their header
// fields.
#pragma once

#include "vellix/formats/oebff_node.h"

namespace ikpubx {

using vellix::formats::OEBFFNode;
using vellix::formats::OEBFFNodeKind;

}  // namespace ikpubx
