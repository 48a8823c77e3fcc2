// Long listings are printed as they are made; the bytes must be those of
// the whole document printed at once.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "book_maker.h"
#include "test_util.h"

namespace {

using namespace vellix::fixtures;
using Json = nlohmann::ordered_json;

TEST(ShelfJsonTest, StreamedListIsTheWholeArrayDump) {
  TempDir dir;
  ToolOutcome empty = RunTool(VELLIX_TOOL, {"shelf", "list", dir.path(), "--json"});
  EXPECT_EQ(empty.code, 0) << empty.err;
  EXPECT_EQ(empty.out, "[]\n");

  for (int i = 0; i < 3; ++i) {
    Info info;
    info.id = "ID" + std::to_string(i);
    info.category = i ? "Caf\xE9" : "";
    info.title = "Line \"" + std::to_string(i) + "\"\\ \x80";
    WriteFile(dir / ("b" + std::to_string(i) + ".imp"), SimpleBookFile(info));
  }
  for (const char* sorted : {"", "--sorted"}) {
    std::vector<std::string> args = {"shelf", "list", dir.path(), "--json"};
    if (*sorted) args.push_back(sorted);
    ToolOutcome r = RunTool(VELLIX_TOOL, args);
    ASSERT_EQ(r.code, 0) << r.err;
    Json all = Json::parse(r.out);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(r.out, all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  }
}

}  // namespace
