// The text of an OEBFF container: a MIME multipart/related message with a
// fixed boundary, one part for the package document and one per manifest
// file, every part's body written raw ("binary"). Header text is 8-bit.
//
// A container is ContainerHeader(), PackagePartHeader() and the package
// bytes, then FilePartHeader(...) and the file bytes for each file, then
// ContainerFooter().
#pragma once

#include <string>
#include <string_view>

namespace vellix::formats {

inline constexpr char kOEBFFBoundary[] = "ZEQTRVNPOLKHGDJXYIKL2000";
inline constexpr char kOEBFFStart[] = "packageIKL2000";

std::string OEBFFContainerHeader();
std::string OEBFFPackagePartHeader();
// `content_type` and `oeb_id` are written as given (8-bit text); the caller
// checks them with OEBFFIsHeaderToken. `href` is written in its URI form
// (OEBFFEncodeHref).
std::string OEBFFFilePartHeader(std::string_view content_type, std::string_view oeb_id, std::string_view href);
std::string OEBFFContainerFooter();

// True when `value` reads back unchanged as an unquoted header value: one
// token of the reader's name bytes (ASCII letters and digits, ". - _ /",
// 0xB7 and the code page's letters 0xC0-0xFF without 0xD7 and 0xF7).
bool OEBFFIsHeaderToken(std::string_view value);

// The href as the container's quoted header value carries it: an href is a
// URI, so every byte the quoted string cannot hold unchanged is
// percent-encoded - controls, bytes above 0x7E, '"', '\', and '%' where it
// does not begin an escape; spaces too when there is nothing else (the
// reader reads a value of spaces only as empty). Every other href, such as
// a plain ASCII file name, is returned byte for byte.
std::string OEBFFEncodeHref(std::string_view href);

// The inverse, for whoever resolves a part's href: every "%XX" escape
// (two hexadecimal digits) becomes its byte; anything else stays.
std::string OEBFFDecodeHref(std::string_view href);

// A part's body must not hold the delimiter that ends a body; this is it
// (CR LF, "--" and the boundary).
std::string OEBFFBodyDelimiter();

}  // namespace vellix::formats
