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

namespace vellix {

inline constexpr char kOEBFFBoundary[] = "ZEQTRVNPOLKHGDJXYIKL2000";
inline constexpr char kOEBFFStart[] = "packageIKL2000";

std::string OEBFFContainerHeader();
std::string OEBFFPackagePartHeader();
// Written as given: the caller passes text the header grammar can carry.
std::string OEBFFFilePartHeader(std::string_view content_type, std::string_view oeb_id,
                                std::string_view href);
std::string OEBFFContainerFooter();

}  // namespace vellix
