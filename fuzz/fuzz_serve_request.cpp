// Arbitrary bytes as one HTTP request to the shelf server: every answer is
// an HTTP answer, nothing crashes, and nothing from outside the shelf (a
// secret file beside it) ever appears in an answer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "book_maker.h"
#include "fuzz_common.h"
#include "http_text.h"
#include "request_probe.h"
#include "vellix/server/shelf_server.h"

namespace {

constexpr char kSecret[] = "SECRET-BESIDE-THE-SHELF";

vellix::server::ShelfServer& Server() {
  static vellix::server::ShelfServer* server = [] {
    const std::string shelf = fuzz::Scratch() + "/shelf";
    std::filesystem::create_directories(shelf);
    vellix::fixtures::Info info;
    info.title = "<b>Fuzzed</b> & Co";
    vellix::fixtures::WriteFile(shelf + "/BOOKONE1.imp", vellix::fixtures::SimpleBookFile(info));
    info.id = "A&B=C";
    vellix::fixtures::WriteFile(shelf + "/BOOKTWO2.imp", vellix::fixtures::SimpleBookFile(
                                                             info, vellix::fixtures::SourceRecord("9", "Q", 3, "f")));
    vellix::fixtures::WriteFile(fuzz::Scratch() + "/SECRET.imp", kSecret);
    vellix::server::ServeOptions options;
    options.shelf = shelf;
    // A token no input guesses: the form and its checks run, nothing is published.
    options.upload_token = "f0c8e2a41d6b4f7c9a1e3b5d7f9a2c4e";
    options.max_upload = 64 * 1024;
    options.log = [](const std::string&) {};
    return new vellix::server::ShelfServer(options);
  }();
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string request(reinterpret_cast<const char*>(data), size);
  const std::string answer = vellix::server::RequestProbe::Answer(Server(), request);
  if (!answer.empty() && answer.rfind("HTTP/1.1 ", 0) != 0) fuzz::Fail("fuzz_serve_request", "not an HTTP answer");
  // Pages show search words back; the secret counts only when the request
  // did not carry it itself.
  if (answer.find(kSecret) != std::string::npos && request.find(kSecret) == std::string::npos &&
      vellix::server::PercentDecode(request).find(kSecret) == std::string::npos)
    fuzz::Fail("fuzz_serve_request", "served a file outside the shelf");
  return 0;
}
