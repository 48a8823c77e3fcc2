// `vellix oeb check` driven as a user drives it, on a container written
// byte by byte: what it prints, in which JSON types (golden files in
// tests/data), and how it exits.
#include <gtest/gtest.h>

#include "test_util.h"

namespace {

using namespace vellix::fixtures;

TEST(OebCheckTest, DescribesContainersAndFailures) {
  TempDir dir;
  dir.Write(
      "book.oeb",
      MakeContainer("<package/>", {{"image/gif", "pic", "pic.gif", "GIF89a"}, {"text/plain", "e", "e.txt", ""}}).bytes);
  dir.Write("cut.oeb", ContainerHeader() + PackageHeader() + "<p");
  auto golden = [&dir](const std::string& name) {
    return [&dir, name](const ToolOutcome& r) { ExpectGolden(name, r.out, {{dir.path(), "@"}}); };
  };
  const CliCase cases[] = {
      {.args = {"oeb", "check", "@/book.oeb"}, .check = golden("oeb_check.txt")},
      {.args = {"oeb", "check", "@/book.oeb", "--json"}, .check = golden("oeb_check.json")},
      {.args = {"oeb", "check", "@/cut.oeb"},
       .code = 1,
       .err = "vellix: container error 10: Invalid OEBFF Container\n",
       .out = ""},
      {.args = {"oeb", "check", "@/cut.oeb", "--json"}, .code = 1, .check = golden("oeb_check_failed.json")},
      {.args = {"oeb", "check", "@/none.oeb"},
       .code = 1,
       .err = "vellix: container error 12: File not found\n",
       .out = ""},
      {.args = {"oeb", "check"}, .code = 2, .err = "(.|\n)*"},
  };
  for (const CliCase& cli : cases) ExpectCli(VELLIX_TOOL, dir.path(), cli);
}

}  // namespace
