// Small text helpers of the server: escaping for HTML and XML, address
// parts, dates and entity tags as HTTP writes them.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace vellix::server {

// Text for an HTML or XML text node or a quoted attribute value.
std::string EscapeHtml(std::string_view text);
// One path segment or query value, every byte outside A-Z a-z 0-9 "-._~"
// percent-encoded.
std::string EncodeUrlPart(std::string_view text);
// Every "%XX" decoded; "+" kept.
std::string PercentDecode(std::string_view text);
// A strong entity tag from a file's size, modification time and inode.
std::string EntityTag(uint64_t size, int64_t mtime_ns, uint64_t inode);
// RFC 7231 date: "Tue, 08 Dec 2026 09:00:00 GMT".
std::string HttpDate(std::time_t when);
// Parses an HTTP date; -1 when it is none.
std::time_t ParseHttpDate(const std::string& text);
// The time for the common log format: "[08/Dec/2026:09:00:00 +0000]".
std::string LogTime(std::time_t when);
// Equal in time that does not depend on where they differ.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace vellix::server
