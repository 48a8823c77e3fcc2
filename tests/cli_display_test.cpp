// What `vellix shelf list` shows people: titles as they read them, while
// the JSON keeps the values as stored.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "book_maker.h"
#include "test_util.h"

namespace {

using namespace vellix::fixtures;

TEST(ShelfListDisplay, PlainTitlesAreReadableJsonKeepsTheStoredValue) {
  TempDir dir;
  Info info;
  info.title = "Salt & Pepper";
  WriteFile(dir / "a.imp", SimpleBookFile(info));

  ToolOutcome plain = RunTool(VELLIX_TOOL, {"shelf", "list", dir.path()});
  EXPECT_EQ(plain.code, 0) << plain.err;
  EXPECT_EQ(plain.out, "Salt & Pepper\n");

  ToolOutcome json = RunTool(VELLIX_TOOL, {"shelf", "list", dir.path(), "--json"});
  ASSERT_EQ(json.code, 0) << json.err;
  auto books = nlohmann::json::parse(json.out);
  ASSERT_EQ(books.size(), 1u);
  EXPECT_EQ(books[0]["Title"], "Salt &amp; Pepper");
}

}  // namespace
