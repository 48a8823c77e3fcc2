// How a project file names its sources, and the package a container of the
// project carries.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ikutil/params.h"

namespace ikutil {

// The href a source named `name` is saved under, in the project whose
// folder is `base_directory`: inside that folder a relative href (a
// relative name as given, an absolute one made relative), outside it an
// absolute "file:" URI (percent-encoded where a URI needs it).
std::string SourceHrefToSave(const std::string& name, const std::string& base_directory);

// The source name a saved href stands for: a local "file:" URI
// ("file:///p", "file://localhost/p", "file:/p") becomes the absolute path
// p; any other href is kept as written.
std::string SourceNameFromHref(const std::string& href);

// The package document Save would write, but with `hrefs[i]` as the href of
// source i: the package part of a container, whose parts are named inside
// it. nullopt when a text field is not valid UTF-8.
std::optional<std::string> ContainerPackageText(const CBookParams& params, const std::vector<std::string>& hrefs);

}  // namespace ikutil
