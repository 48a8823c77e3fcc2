// The module's count of living objects, kept apart from the public module
// interface so that the object base can reach it.
#pragma once

namespace ikpubx::internal {

void AdjustObjectCount(long delta);

}  // namespace ikpubx::internal
