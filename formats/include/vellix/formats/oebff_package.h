// The pieces of an OEBFF container that come from a package: the
// manifest items a container can carry, and the bodies copied into it.
// Shared by every writer of containers (the library's and the engine's).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vellix/formats/file_io.h"

namespace vellix::formats {

// True when `href` names a file inside `folder`: relative, never climbing
// out, and not leaving it through a symbolic link either.
bool StaysInsideFolder(const std::string& folder, const std::string& href);

// True when `href`, found in a document in `folder`, climbs one "../" and
// names a file in the tree of the folder's parent: the pictures and sheets
// a set of pages keeps beside its page folders ("en/", "de/"). Never when
// that parent is a place shared with other files than the user's own
// documents: the file system's root, the home folder or a temporary
// folder (where uploads are unpacked, each in a folder of its own).
bool StaysInsideParentFolder(const std::string& folder, const std::string& href);

struct OEBFFManifestPart {
  std::string media_type, id, href;
  bool inside = false;  // packed; else only its header is written
};

// The element children of the package's manifest, in document order, each
// checked for what a container part header can carry; empty when the
// package does not parse. Throws AutomationError 91 without a manifest, 94
// for an item without id, href or media type, and 5 for an id or media type
// a part header cannot carry.
std::vector<OEBFFManifestPart> ReadOEBFFManifest(const std::string& opf, const std::string& directory);
// The same for a package held in memory; `opf` names it in errors.
std::vector<OEBFFManifestPart> ReadOEBFFManifestText(std::string_view package_text, const std::string& opf,
                                                     const std::string& directory);

// Appends the file at `file_path` to `out` as a part's body. Nothing when
// the file is missing; throws AutomationError 5 when the file holds the
// container's part delimiter (it would end the body early).
void AppendOEBFFBody(AtomicFileWriter& out, const std::string& file_path);

}  // namespace vellix::formats
