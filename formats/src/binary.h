// Byte-level helpers of the device book formats.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellix::formats {

// The two (four) bytes of `v`, most significant first.
std::string UInt16BE(uint16_t v);
std::string UInt32BE(uint32_t v);

// The name of the first file in `folder` (in listing order) whose name has
// exactly four characters and whose bytes 2-5 equal `tag` exactly; "" when
// none does.
std::string FindResourceFile(const std::string& folder, std::string_view tag);

}  // namespace vellix::formats
