// A project's sources may lie anywhere the user can read: named by an
// absolute path or by a relative one that climbs out of the project's
// folder, saved and loaded again, built, checked and packed. What the
// documents refer to, and everything a container names, stays confined.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "engine_log.h"
#include "ikutil/device_edition.h"
#include "ikutil/params.h"
#include "test_util.h"

namespace ikutil {
namespace {

using vellix::fixtures::BuildFromContainer;
using vellix::fixtures::EngineLog;
using vellix::fixtures::ReadFile;
using vellix::fixtures::TempDir;

std::string Page(const std::string& title, const std::string& body) {
  return "<html><head><title>" + title + "</title></head><body>" + body + "</body></html>\n";
}

// A package whose manifest and spine hold these documents, in order.
std::string Package(const std::vector<std::string>& hrefs) {
  std::string manifest, spine;
  for (size_t n = 1; n <= hrefs.size(); ++n) {
    const std::string id = "s" + std::to_string(n);
    manifest += "<item id=\"" + id + "\" href=\"" + hrefs[n - 1] + "\" media-type=\"text/x-oeb1-document\"/>";
    spine += "<itemref idref=\"" + id + "\"/>";
  }
  return "<?xml version=\"1.0\"?>\n<package unique-identifier=\"id\"><metadata><dc-metadata "
         "xmlns:dc=\"http://purl.org/dc/elements/1.0/\"><dc:Identifier id=\"id\">x</dc:Identifier>"
         "<dc:Title>T</dc:Title></dc-metadata></metadata><manifest>" +
         manifest + "</manifest><spine>" + spine + "</spine></package>\n";
}

std::vector<std::string> SourceNames(const CBookParams& p) {
  std::vector<std::string> names;
  for (size_t i = 0; i < p.NumSources(); ++i) names.push_back(p.Source(i)->file_name);
  return names;
}

std::string AllText(const std::string& book) {
  EditionReadResult read = ReadDeviceEdition(book);
  EXPECT_EQ(read.error, EditionError::kNone) << read.message;
  std::string text;
  for (const Block& block : read.edition.blocks)
    for (const ikutil::Run& run : block.runs) text += run.text + "|";
  return text;
}

class SourcesAnywhere : public ::testing::Test {
 protected:
  void SetUp() override {
    // project/ holds the project file; elsewhere/ the user's other documents.
    dir_.Write("project/in.htm", Page("In", "<p>Inside the project.</p>"));
    dir_.Write("elsewhere/in.htm", Page("Also in", "<p>Same name, other folder.</p>"));
    dir_.Write("elsewhere/ch 1.htm", Page("One", "<p>Chapter one, far away.</p><p><a href=\"ch2.htm\">on</a></p>"));
    dir_.Write("elsewhere/ch2.htm", Page("Two", "<p>Chapter two.</p>"));
    std::filesystem::create_directory(dir_ / "out");
  }

  // A project in project/ of these sources, built into out/BOOK.imp. By
  // default in.htm, elsewhere/ch 1.htm by absolute path,
  // ../elsewhere/ch2.htm, elsewhere/in.htm by absolute path.
  void AddSources(CBookParams& p, std::vector<std::string> sources = {}) {
    if (sources.empty())
      sources = {"in.htm", dir_ / "elsewhere/ch 1.htm", "../elsewhere/ch2.htm", dir_ / "elsewhere/in.htm"};
    p.project_file_path = dir_ / "project/book.opf";
    p.book_file_name = "BOOK";
    p.DestDir(dir_ / "out");
    for (const std::string& source : sources)
      p.InsertSource(p.NumSources(), std::make_unique<CWinSourceFile>(source, 0));
  }

  TempDir dir_;
};

TEST_F(SourcesAnywhere, SavedAsFileUrisLoadedAsPathsThenBuiltCheckedAndPacked) {
  CBookParams made;
  AddSources(made);
  ASSERT_TRUE(made.Save());
  std::string saved = ReadFile(made.project_file_path);
  for (const std::string& href : {std::string("in.htm"), "file://" + dir_.path() + "/elsewhere/ch%201.htm",
                                  "file://" + dir_.path() + "/elsewhere/ch2.htm"})
    EXPECT_NE(saved.find("href=\"" + href + "\""), std::string::npos) << href << "\n" << saved;

  CBookParams p;
  ASSERT_TRUE(p.Load(made.project_file_path, false));
  EXPECT_EQ(SourceNames(p), (std::vector<std::string>{"in.htm", dir_ / "elsewhere/ch 1.htm", dir_ / "elsewhere/ch2.htm",
                                                      dir_ / "elsewhere/in.htm"}));
  EXPECT_TRUE(p.Source(1)->Exists(p.BaseDirectory()));

  CBookBuilder builder(&p, nullptr);
  EngineLog build_errors(builder);
  ASSERT_EQ(builder.OutputBook(false, false), 0) << build_errors.Errors();
  EXPECT_EQ(AllText(dir_ / "out/BOOK.imp"),
            "Inside the project.|Chapter one, far away.|on|Chapter two.|Same name, other folder.|");

  CValidatorThread checker(&p, nullptr);
  EngineLog check_errors(checker);
  checker.Validate(-1);
  EXPECT_TRUE(check_errors.Errors().empty()) << check_errors.Errors();

  // Packed whole: the outside sources under their base names, the second
  // "in.htm" made unique; the user's project file is left as it was.
  p.project_file_path = dir_ / "project/opfTEMP";
  COEBFFThread packer(&p, nullptr);
  EngineLog pack_errors(packer);
  ASSERT_NE(packer.GenerateOEBFF(false), 0) << pack_errors.Errors();
  EXPECT_TRUE(pack_errors.Errors().empty()) << pack_errors.Errors();
  std::string container = ReadFile(dir_ / "out/BOOK.oeb");
  for (const char* href : {"in.htm", "ch 1.htm", "ch2.htm", "in-2.htm"})
    EXPECT_NE(container.find(std::string("href=\"") + href + "\""), std::string::npos) << href;
  EXPECT_EQ(container.find("file:"), std::string::npos);
  EXPECT_EQ(ReadFile(made.project_file_path), saved);

  EngineLog unpack_errors;
  ASSERT_TRUE(BuildFromContainer(dir_ / "out/BOOK.oeb", dir_ / "out", "FROMOEB", unpack_errors).ok())
      << unpack_errors.Errors();
  EXPECT_EQ(AllText(dir_ / "out/FROMOEB.imp"), AllText(dir_ / "out/BOOK.imp"));
}

TEST_F(SourcesAnywhere, OtherSpellingsOfFileUris) {
  std::string package =
      Package({"file://localhost" + dir_.path() + "/elsewhere/ch2.htm", "file:" + dir_.path() + "/elsewhere/ch%201.htm",
               "file://host.example/x.htm", "%2Fnot-a-uri.htm"});
  CBookParams p;
  ASSERT_TRUE(p.LoadFromText(package, dir_ / "project/p.opf", false));
  // Another machine's file is kept, never found.
  EXPECT_EQ(SourceNames(p), (std::vector<std::string>{dir_ / "elsewhere/ch2.htm", dir_ / "elsewhere/ch 1.htm",
                                                      "file://host.example/x.htm", "%2Fnot-a-uri.htm"}));
}

TEST_F(SourcesAnywhere, WhatDocumentsReferToStaysInTheFoldersTheProjectNamed) {
  // A picture and a sheet beside the outside source are read; a folder next
  // to it that the project never named is not, from either document.
  dir_.Write("secret/look.css", "p { font-style: italic }\n");
  dir_.Write("secret/secret.htm", Page("Secret", "<p>SECRET TEXT</p>"));
  dir_.Write("elsewhere/look.css", "p { font-weight: bold }\n");
  dir_.Write("elsewhere/far.htm",
             "<html><head><title>Far</title><link rel=\"stylesheet\" href=\"look.css\"/>"
             "<link rel=\"stylesheet\" href=\"../secret/look.css\"/></head>"
             "<body><p>Far.</p><p><a href=\"../secret/secret.htm\">secret</a></p></body></html>\n");
  dir_.Write("project/near.htm", Page("Near",
                                      "<p>Near.</p><p><a href=\"../secret/secret.htm\">secret</a>"
                                      "<a href=\"../../../../../../../../etc/passwd\">passwd</a></p>"));
  CBookParams p;
  AddSources(p, {"near.htm", dir_ / "elsewhere/far.htm"});
  ASSERT_TRUE(p.Save());

  CValidatorThread checker(&p, nullptr);
  EngineLog check(checker);
  checker.Validate(-1);
  std::string found = check.Errors();
  EXPECT_NE(found.find("style sheet \"../secret/look.css\" not found"), std::string::npos) << found;
  EXPECT_NE(found.find("far.htm: link \"../secret/secret.htm\" points at a file not in the package"), std::string::npos)
      << found;
  EXPECT_NE(found.find("near.htm: link \"../../../../../../../../etc/passwd\" leaves the package"), std::string::npos)
      << found;

  CBookBuilder builder(&p, nullptr);
  EngineLog build(builder);
  ASSERT_EQ(builder.OutputBook(false, false), 0) << build.Errors();
  std::string text = AllText(dir_ / "out/BOOK.imp");
  EXPECT_EQ(text.find("SECRET"), std::string::npos);
  EXPECT_EQ(text.find("root:"), std::string::npos);
  EditionReadResult read = ReadDeviceEdition(dir_ / "out/BOOK.imp");
  bool bold_far = false, italic_anywhere = false;
  for (const Block& block : read.edition.blocks)
    for (const ikutil::Run& run : block.runs) {
      if (run.text == "Far.") bold_far = read.edition.text_styles.at(run.style).bold;
      italic_anywhere = italic_anywhere || read.edition.text_styles.at(run.style).italic;
    }
  EXPECT_TRUE(bold_far);
  EXPECT_FALSE(italic_anywhere);
}

TEST_F(SourcesAnywhere, AContainerReadsNothingOutsideItself) {
  // Files a hostile container might reach for, beside and above it.
  dir_.Write("x.htm", Page("X", "<p>OUTSIDE X</p>"));
  dir_.Write("box/x.htm", Page("X", "<p>OUTSIDE X TOO</p>"));
  std::string ok = Page("Ok",
                        "<p>Inside.</p><p><a href=\"../x.htm\">up</a><a href=\"/etc/passwd\">abs</a>"
                        "<img src=\"../x.htm\"/><img src=\"file:///etc/passwd\"/></p>");
  for (const char* named : {"/etc/passwd", "../x.htm", "file:///etc/passwd", "x.htm"}) {
    SCOPED_TRACE(named);
    vellix::fixtures::Container c =
        vellix::fixtures::MakeContainer(Package({"ok.htm", named}), {{"text/x-oeb1-document", "ok", "ok.htm", ok}});
    std::string oeb = dir_.Write("box/hostile.oeb", c.bytes);
    EngineLog errors;
    EXPECT_FALSE(BuildFromContainer(oeb, dir_ / "out", "HOSTILE", errors).ok()) << "a named source is missing";
    EXPECT_NE(errors.Errors().find("document not found"), std::string::npos) << errors.Errors();
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out/HOSTILE.imp"));
  }
  vellix::fixtures::Container c = vellix::fixtures::MakeContainer(
      Package({"ok.htm"}), {{"text/x-oeb1-document", "ok", "ok.htm", ok},
                            {"text/x-oeb1-document", "up", "../x.htm", Page("X", "<p>PART</p>")}});
  std::string oeb = dir_.Write("box/links.oeb", c.bytes);
  EngineLog errors;
  ASSERT_TRUE(BuildFromContainer(oeb, dir_ / "out", "LINKS", errors).ok()) << errors.Errors();
  std::string text = AllText(dir_ / "out/LINKS.imp");
  EXPECT_EQ(text.find("OUTSIDE"), std::string::npos) << text;
  EXPECT_EQ(text.find("root:"), std::string::npos) << text;
}

TEST_F(SourcesAnywhere, PackingFailsNamingAnOutsideSourceThatCannotBeRead) {
  CBookParams p;
  AddSources(p);
  std::filesystem::remove(dir_ / "elsewhere/ch2.htm");
  p.project_file_path = dir_ / "project/opfTEMP";
  COEBFFThread packer(&p, nullptr);
  EngineLog errors(packer);
  EXPECT_EQ(packer.GenerateOEBFF(false), 0);
  EXPECT_NE(errors.Errors().find("2 [../elsewhere/ch2.htm] ch2.htm: \"" + dir_.path() + "/elsewhere/ch2.htm\""),
            std::string::npos)
      << errors.Errors();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out/BOOK.oeb"));
}

}  // namespace
}  // namespace ikutil
