// Pieces of the book list document, shared with the tests.
#pragma once

#include <cstdint>
#include <string>

namespace vellix {

// "<pages> page(s), <KB> KB" + ", Not Encrypted<br />" or "<br />".
std::string PagesAndSizeLine(int16_t pages, int32_t size, bool encrypted);

}  // namespace vellix
