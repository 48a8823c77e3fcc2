// `vellix oeb check` driven as a user drives it, on a container written
// byte by byte: what it prints, in which JSON types, and how it exits.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_util.h"

namespace {

using namespace vellix::fixtures;
using Json = nlohmann::json;

TEST(OebCheckTest, DescribesContainersAndFailures) {
  TempDir dir;
  Container c =
      MakeContainer("<package/>", {{"image/gif", "pic", "pic.gif", "GIF89a"}, {"text/plain", "e", "e.txt", ""}});
  dir.Write("book.oeb", c.bytes);
  dir.Write("cut.oeb", ContainerHeader() + PackageHeader() + "<p");
  auto json_of = [](const ToolOutcome& r) { return Json::parse(r.out); };
  std::vector<CliCase> cases = {
      {.args = {"oeb", "check", "@/book.oeb"},
       .check =
           [&](const ToolOutcome& r) {
             ExpectGolden("oeb_check.txt", r.out, {{dir.path(), "@"}});
           }},
      {.args = {"oeb", "check", "@/book.oeb", "--json"},
       .check =
           [&](const ToolOutcome& r) {
             Json j = json_of(r);
             EXPECT_EQ(j["failed"].dump() + j["code"].dump() + j["message"].dump(), "false0\"No error\"");
             EXPECT_EQ(j["container_fields"][1], Json::parse(R"({"name": "Content-Type", "value": "multipart/related",
             "attributes": [["type", "application/x-oeb1"], ["start", "packageIKL2000"],
                            ["boundary", "ZEQTRVNPOLKHGDJXYIKL2000"]]})"));
             ASSERT_EQ(j["parts"].size(), 3u);
             for (size_t i = 0; i < 3; ++i) EXPECT_EQ(j["parts"][i]["body_start"].get<int64_t>(), c.content_offsets[i]);
             EXPECT_EQ(j["parts"][1]["body_end"].get<int64_t>(), c.content_offsets[1] + 7);
             EXPECT_EQ(j["parts"][1]["fields"][2], Json::parse(R"({"name": "Content-Disposition", "value": "",
                                                             "attributes": [["href", "pic.gif"]]})"));
           }},
      {.args = {"oeb", "check", "@/cut.oeb"},
       .code = 1,
       .err = "vellix: container error 10: Invalid OEBFF Container\n",
       .out = ""},
      {.args = {"oeb", "check", "@/cut.oeb", "--json"},
       .code = 1,
       .check =
           [&](const ToolOutcome& r) {
             EXPECT_EQ(json_of(r), Json::parse(R"({"failed": true, "code": 10, "message": "Invalid OEBFF Container",
                                              "container_fields": [], "parts": []})"));
           }},
      {.args = {"oeb", "check", "@/none.oeb"},
       .code = 1,
       .err = "vellix: container error 12: File not found\n",
       .out = ""},
      {.args = {"oeb", "check"}, .code = 2, .err = "(.|\n)*"},
  };
  for (const CliCase& cli : cases) ExpectCli(VELLIX_TOOL, dir.path(), cli);
}

}  // namespace
