// The shelf as an OPDS 1.2 catalogue for reader apps: a navigation feed at
// the root (all books, by category, by author), acquisition feeds with each
// book's download link, size and first-page thumbnail, and search through
// an OpenSearch description.
#pragma once

#include <string>

#include "shelf_index.h"

namespace vellix::server {

inline constexpr char kOpdsNavigationType[] = "application/atom+xml;profile=opds-catalog;kind=navigation";
inline constexpr char kOpdsAcquisitionType[] = "application/atom+xml;profile=opds-catalog;kind=acquisition";
// The link relations reader apps look for, matched as they stand.
inline constexpr char kOpdsAcquisitionRel[] = "http://opds-spec.org/acquisition";
inline constexpr char kOpdsThumbnailRel[] = "http://opds-spec.org/image/thumbnail";
inline constexpr char kOpdsImageRel[] = "http://opds-spec.org/image";
inline constexpr char kEpubType[] = "application/epub+zip";
inline constexpr char kOpenSearchType[] = "application/opensearchdescription+xml";

struct OpdsAnswer {
  bool found = false;
  std::string type;
  std::string body;
};

// `path` is the request path from "/opds" on; `search` the query's "q".
OpdsAnswer OpdsFeed(const ShelfSnapshot& shelf, const std::string& path, const std::string& search);

}  // namespace vellix::server
