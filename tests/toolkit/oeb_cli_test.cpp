// `vellix oeb check` driven as a user drives it: real arguments, a
// container written byte by byte, and only what the tool prints and returns.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "oebff_maker.h"
#include "test_util.h"

namespace {

using Json = nlohmann::json;
namespace fixtures = ikpubx::fixtures;

using Outcome = vellix::fixtures::ToolOutcome;

Outcome Vellix(const fixtures::TempFolder&, const std::vector<std::string>& args) {
  return vellix::fixtures::RunTool(VELLIX_TOOL, args);
}

class OebCheckTest : public ::testing::Test {
 protected:
  std::string WriteContainer() {
    fixtures::Container c = fixtures::MakeContainer(
        "<package/>", {{"image/gif", "pic", "pic.gif", "GIF89a"}, {"text/plain", "none", "none.txt", ""}});
    offsets_ = c.content_offsets;
    return folder_.Write("book.oeb", c.bytes);
  }

  fixtures::TempFolder folder_;
  std::vector<int64_t> offsets_;
};

TEST_F(OebCheckTest, JsonDescribesFieldsAndBodies) {
  Outcome r = Vellix(folder_, {"oeb", "check", WriteContainer(), "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  Json j = Json::parse(r.out);
  EXPECT_EQ(j["failed"], false);
  EXPECT_EQ(j["code"], 0);
  EXPECT_EQ(j["message"], "No error");
  EXPECT_EQ(j["container_fields"][1],
            Json::parse(R"({"name": "Content-Type", "value": "multipart/related", "attributes":
                [["type", "application/x-oeb1"], ["start", "packageIKL2000"],
                 ["boundary", "ZEQTRVNPOLKHGDJXYIKL2000"]]})"));
  ASSERT_EQ(j["parts"].size(), 3u);
  EXPECT_EQ(j["parts"][0]["body_start"], offsets_[0]);
  EXPECT_EQ(j["parts"][0]["body_end"], offsets_[0] + 11);  // "<package/>" + 1
  EXPECT_EQ(j["parts"][1]["body_end"], offsets_[1] + 7);
  EXPECT_EQ(j["parts"][2]["body_end"], offsets_[2] + 1);  // empty
  EXPECT_EQ(j["parts"][1]["fields"][2],
            Json::parse(R"({"name": "Content-Disposition", "value": "", "attributes": [["href", "pic.gif"]]})"));
}

TEST_F(OebCheckTest, PlainSummary) {
  std::string path = WriteContainer();
  Outcome r = Vellix(folder_, {"oeb", "check", path});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), path + ": OEBFF container, 3 parts");
  EXPECT_NE(r.out.find("Part 2: body at " + std::to_string(offsets_[1]) + ", 6 bytes\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Content-Disposition: href=\"pic.gif\"\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
}

TEST_F(OebCheckTest, FailuresReportMessageAndCode) {
  std::string truncated = folder_.Write("cut.oeb", fixtures::ContainerHeader() + fixtures::PackageHeader() + "<p");

  Outcome plain = Vellix(folder_, {"oeb", "check", truncated});
  EXPECT_EQ(plain.code, 1);
  EXPECT_EQ(plain.err, "vellix: container error 10: Invalid OEBFF Container\n");
  EXPECT_EQ(plain.out, "");

  Outcome json = Vellix(folder_, {"oeb", "check", truncated, "--json"});
  EXPECT_EQ(json.code, 1);
  Json j = Json::parse(json.out);
  EXPECT_EQ(j["failed"], true);
  EXPECT_EQ(j["code"], 10);
  EXPECT_EQ(j["message"], "Invalid OEBFF Container");
  EXPECT_EQ(j["parts"], Json::array());
  EXPECT_EQ(j["container_fields"], Json::array());

  Outcome missing = Vellix(folder_, {"oeb", "check", folder_.path() + "/none.oeb"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "vellix: container error 12: File not found\n");

  EXPECT_EQ(Vellix(folder_, {"oeb", "check"}).code, 2);  // usage
}

}  // namespace
