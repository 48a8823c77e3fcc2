// One request answered without a socket: the raw bytes of a request in,
// the raw bytes of the answer out, through the same processing and routes
// as a connection. For the fuzz target, which feeds it arbitrary bytes.
#pragma once

#include <string>

#include "vellix/server/shelf_server.h"

namespace vellix::server {

struct RequestProbe {
  static std::string Answer(ShelfServer& server, const std::string& request);
};

}  // namespace vellix::server
