// The Project: its values over the engine's parameters, the source list and
// its status bits, the project file, and the class registry that makes it.
#include "ikpubx/project.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "book_info.h"
#include "ikpubx/module.h"
#include "ikutil/ui_helper.h"
#include "test_util.h"

namespace ikpubx {
namespace {

using vellix::fixtures::TempDir;

// What a getter answers; the tests check result codes separately.
template <typename T>
T Get(IProject& p, HRESULT (IProject::*getter)(T*)) {
  T value{};
  EXPECT_EQ((p.*getter)(&value), S_OK);
  return value;
}
int16_t Get(IProject& p, HRESULT (IProject::*getter)(int16_t, int16_t*), int16_t index) {
  int16_t value = -7;
  EXPECT_EQ((p.*getter)(index, &value), S_OK);
  return value;
}
int32_t Changed(IProject& p) { return Get(p, &IProject::HasChanged); }

std::string Names(IProject& p) {
  std::string names;
  for (int16_t i = 0; i < Get(p, &IProject::NumSourceFiles); ++i) {
    std::string name;
    p.SourceFile(i, &name);
    names += name;
  }
  return names;
}

ikutil::CBookParams& ParamsOf(IProject& p) {
  Variant v;
  p.GetBookParams(&v);
  return *static_cast<ikutil::CBookParams*>(v.byref);
}

// Records what the engine shows while a project loads.
class DisplayRecorder {
 public:
  DisplayRecorder() {
    previous_ = ikutil::SetDisplayFunction([this](const std::string& message, const std::string&, int, int show_now) {
      shown.push_back({message, show_now});
      return 0;
    });
  }
  ~DisplayRecorder() { ikutil::SetDisplayFunction(previous_); }
  std::vector<std::pair<std::string, int>> shown;

 private:
  ikutil::DisplayFunction previous_;
};

const char kPackage[] =
    "<?xml version=\"1.0\"?>\n<package unique-identifier=\"uid\">\n<metadata>\n"
    "<dc-metadata xmlns:dc=\"http://purl.org/dc/elements/1.0/\">\n"
    "<dc:Identifier id=\"uid\">book-9</dc:Identifier><dc:Title>Tides</dc:Title>\n"
    "<dc:Creator role=\"aut\">Ann Bee Cole</dc:Creator>\n</dc-metadata>\n"
    "<x-metadata><meta name=\"x-IKL-nameondisk\" content=\"TIDES\"/></x-metadata>\n</metadata>\n"
    "<manifest><item id=\"a\" href=\"a.htm\" media-type=\"text/x-oeb1-document\"/>"
    "<item id=\"b\" href=\"b.htm\" media-type=\"text/x-oeb1-document\"/></manifest>\n"
    "<spine><itemref idref=\"a\"/><itemref idref=\"b\" x-IKL-status=\"6\"/></spine>\n</package>\n";

TEST(Project, FlagsAndMarks) {
  CBookInfo p;
  EXPECT_EQ(Changed(p), 0);
  p.SetHasChanged(1);
  EXPECT_EQ(Changed(p), 1);
  p.SetHasChanged(-1);  // only exactly 1 sets the mark
  EXPECT_EQ(Changed(p), 0);
  p.SetErrorFeedback(-1);
  EXPECT_EQ(Get(p, &IProject::ErrorFeedback), 0);
  p.SetErrorFeedback(1);
  EXPECT_EQ(Get(p, &IProject::ErrorFeedback), 1);
  EXPECT_EQ(Changed(p), 0);  // not a change to the book

  p.SetEncrypt(-1);
  EXPECT_EQ(Get(p, &IProject::Encrypt), 255);
  EXPECT_EQ(Changed(p), 1);
  p.SetCompress(0x1234);
  EXPECT_EQ(Get(p, &IProject::Compress), 0x34);
  // Zoom keeps its sign in the wider field; the interface reads 16 bits.
  p.SetZoom(-2);
  EXPECT_EQ(ParamsOf(p).zoom, -2);
  ParamsOf(p).zoom = 0x10003;
  EXPECT_EQ(Get(p, &IProject::Zoom), 3);
  p.SetWidowLines(-5);
  EXPECT_EQ(ParamsOf(p).widow_lines, -5);

  p.SetBuildTarget(0);
  p.SetHasChanged(0);
  EXPECT_EQ(p.SetBuildTarget(2), S_OK);
  EXPECT_EQ(Get(p, &IProject::BuildTarget), 0);
  EXPECT_EQ(Changed(p), 1);

  // DeleteFallbacks marks only a new byte; IsPeriodical only a non-zero put.
  p.SetHasChanged(0);
  p.SetDeleteFallbacks(256);  // byte 0, as stored
  p.SetIsPeriodical(0);
  EXPECT_EQ(Changed(p), 0);
  p.SetDeleteFallbacks(1);
  EXPECT_EQ(Changed(p), 1);
  p.SetHasChanged(0);
  p.SetIsPeriodical(2);
  EXPECT_EQ(Get(p, &IProject::IsPeriodical), 2);
  EXPECT_EQ(Changed(p), 1);

  const HRESULT no_out[] = {p.ContentFeedID(nullptr), p.CurrentIssue(nullptr), p.DeleteFallbacks(nullptr),
                            p.IsPeriodical(nullptr), p.ProjectFormat(nullptr)};
  for (const HRESULT& result : no_out) EXPECT_EQ(result, E_INVALIDARG) << "call " << &result - no_out;
  EXPECT_EQ(p.BookTitle(nullptr), E_POINTER);
  Variant params;
  EXPECT_EQ(p.GetBookParams(&params), S_OK);
  EXPECT_EQ(params.vt, VT_BYREF | VT_UI1);
  EXPECT_EQ(p.GetBookParams(nullptr), S_OK);
}

TEST(Project, ProjectFileIsNullUntilSetAndFreedByEmpty) {
  CBookInfo p;
  EXPECT_EQ(Get(p, &IProject::ProjectFile), "");
  p.SetProjectFile("/b/book.opf");
  EXPECT_EQ(Get(p, &IProject::ProjectFile), "/b/book.opf");
  EXPECT_EQ(ParamsOf(p).project_file_path, "/b/book.opf");
  p.SetHasChanged(0);
  p.SetProjectFile("");
  EXPECT_EQ(Get(p, &IProject::ProjectFile), "");
  EXPECT_EQ(Changed(p), 1);
}

TEST(Project, ClearAllResetsTheBookAndLeavesThePeriodical) {
  CBookInfo p;
  p.SetProjectFile("/p/book.opf");
  p.SetContentFeedID("feed");
  p.SetCurrentIssue("7");
  p.SetDeleteFallbacks(1);
  p.SetIsPeriodical(1);
  p.SetErrorFeedback(1);
  p.SetBookTitle("Title");
  p.SetOutputDirectory("out");
  p.SetEncrypt(0);
  p.SetCSS(0);
  p.SetBuildTarget(0);
  p.AddSourceFile("a.htm");
  ParamsOf(p).reserved_flag_before_underline = 0;
  EXPECT_EQ(p.ClearAll(), S_OK);

  EXPECT_EQ(Get(p, &IProject::BookFileName) + "|" + Get(p, &IProject::ProjectFile) + "|" +
                Get(p, &IProject::ContentFeedID) + Get(p, &IProject::CurrentIssue) + "|" +
                Get(p, &IProject::BookTitle) + Get(p, &IProject::OutputDirectory),
            "Inkleaf|/p/book.opf|feed7|");
  // The periodical's fields, the error feedback and the reserved flag are
  // kept; the book's are its defaults.
  EXPECT_EQ((std::vector<int32_t>{Changed(p), Get(p, &IProject::DeleteFallbacks), Get(p, &IProject::IsPeriodical),
                                  Get(p, &IProject::ErrorFeedback), ParamsOf(p).reserved_flag_before_underline,
                                  Get(p, &IProject::Encrypt), Get(p, &IProject::CSS), Get(p, &IProject::WidowLines),
                                  Get(p, &IProject::BuildTarget), Get(p, &IProject::NumSourceFiles)}),
            (std::vector<int32_t>{0, 1, 1, 1, 0, 1, 2, 0, 1, 0}));
}

TEST(Project, SourceListEditsAndIndexChecks) {
  CBookInfo p;
  p.AddSourceFile("A");
  p.AddSourceFile("B");
  EXPECT_EQ(p.InsertSourceFile(2, "C"), S_OK);  // at the count: appended
  EXPECT_EQ(p.InsertSourceFile(4, "X"), E_INVALIDARG);
  EXPECT_EQ(p.InsertSourceFile(-1, "X"), E_INVALIDARG);
  EXPECT_EQ(Names(p), "ABC");

  p.SetHtmlStatus(0, 2);
  p.SetDirtyStatus(0, 1);
  p.SetIncludeStatus(0, 0);
  p.SetHasChanged(0);
  EXPECT_EQ(p.MoveSourceFile(1, 1), S_OK);
  EXPECT_EQ(Changed(p), 0);
  EXPECT_EQ(p.MoveSourceFile(0, 2), S_OK);
  EXPECT_EQ(Names(p), "BCA");
  EXPECT_EQ(Changed(p), 1);
  EXPECT_EQ(ParamsOf(p).Source(2)->status, ikutil::kStatusExcluded | ikutil::kStatusDirty | 2);
  EXPECT_EQ(p.MoveSourceFile(0, 3), E_INVALIDARG);

  // Bad indexes change nothing, not even the mark.
  p.SetHasChanged(0);
  std::string name;
  int16_t status = 0;
  int32_t value = 0;
  for (int16_t bad : {int16_t{-1}, int16_t{3}}) {
    EXPECT_EQ(p.SourceFile(bad, &name), E_INVALIDARG);
    EXPECT_EQ(p.SetSourceFile(bad, "X"), E_INVALIDARG);
    EXPECT_EQ(p.HtmlStatus(bad, &status), E_INVALIDARG);
    EXPECT_EQ(p.SetIncludeStatus(bad, 1), E_INVALIDARG);
    EXPECT_EQ(p.SetDirtyStatus(bad, 1), E_INVALIDARG);
    EXPECT_EQ(p.DeleteSourceFile(bad), E_INVALIDARG);
    EXPECT_EQ(p.SourceExists(bad, &value), E_INVALIDARG);
    EXPECT_EQ(p.SourceFileSize(bad, &value), E_INVALIDARG);
  }
  EXPECT_EQ(p.SourceExists(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(Names(p), "BCA");
  EXPECT_EQ(Changed(p), 0);

  // The three status fields share a word without touching each other.
  p.SetHtmlStatus(1, 3);
  EXPECT_EQ(Get(p, &IProject::HtmlStatus, 1), 3);
  p.SetIncludeStatus(1, 0);
  p.SetDirtyStatus(1, 3);
  p.SetHtmlStatus(1, 5);
  EXPECT_EQ(std::tuple(Get(p, &IProject::HtmlStatus, 1), Get(p, &IProject::IncludeStatus, 1),
                       Get(p, &IProject::DirtyStatus, 1)),
            std::tuple(1, 0, 1));
  p.SetIncludeStatus(1, -4);
  EXPECT_EQ(Get(p, &IProject::IncludeStatus, 1), 1);

  p.SetSourceFile(1, "Q");
  p.DeleteSourceFile(0);
  EXPECT_EQ(Names(p), "QA");
}

TEST(Project, SizesCountFromTheProjectsFolder) {
  TempDir dir;
  dir.Write("a.htm", "12345");
  dir.Write("b.htm", "1234567");
  dir.Write("c.htm", "123");
  CBookInfo p;
  EXPECT_EQ(Get(p, &IProject::TotalProcessBytes), 0);

  p.SetProjectFile(dir / "book.opf");
  for (const char* name : {"a.htm", "b.htm", "c.htm", "missing.htm"}) p.AddSourceFile(name);
  p.SetIncludeStatus(1, 0);
  ParamsOf(p).Source(2)->status |= ikutil::kStatusGlossary;
  EXPECT_EQ(Get(p, &IProject::TotalProcessBytes), 5);
  int32_t size = 0, exists = 0, missing = 1;
  p.SourceFileSize(1, &size);
  p.SourceExists(2, &exists);
  p.SourceExists(3, &missing);
  EXPECT_EQ(std::tuple(size, exists, missing), std::tuple(7, 1, 0));
}

TEST(Project, LoadMakesTheNameFullAndSaveRoundTrips) {
  TempDir dir;
  dir.Write("tides.opf", kPackage);
  CBookInfo p;
  const std::filesystem::path old_folder = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(p.Load("sub/../tides.opf"), S_OK);
  std::filesystem::current_path(old_folder);
  EXPECT_EQ(Get(p, &IProject::ProjectFile), (std::filesystem::path(dir.path()) / "tides.opf").string());
  EXPECT_EQ(Changed(p), 0);
  EXPECT_EQ(ParamsOf(p).UIHelper(), nullptr);
  EXPECT_EQ(
      Get(p, &IProject::BookTitle) + "|" + Get(p, &IProject::BookFileName) + "|" + Get(p, &IProject::AuthorLastName),
      "Tides|TIDES|Cole");
  EXPECT_EQ(Get(p, &IProject::ProjectFormat), 1);
  EXPECT_EQ(Names(p), "a.htmb.htm");
  EXPECT_EQ(Get(p, &IProject::IncludeStatus, 1), 0);

  p.SetBookTitle("Ebb");
  const std::string copy = dir / "copy.opf";
  EXPECT_EQ(p.Save(copy), S_OK);
  EXPECT_EQ(Changed(p), 0);
  EXPECT_EQ(Get(p, &IProject::ProjectFile), copy);
  CBookInfo q;
  ASSERT_EQ(q.Load(copy), S_OK);
  EXPECT_EQ(Get(q, &IProject::BookTitle), "Ebb");
  EXPECT_EQ(Names(q), "a.htmb.htm");

  EXPECT_EQ(p.Save(""), E_FAIL);  // no file to save to
}

TEST(Project, FailedLoadKeepsTheProjectAndReportsAsAsked) {
  TempDir dir;
  dir.Write("bad.opf", "<package><unclosed></package>");
  DisplayRecorder recorder;
  CBookInfo p;
  p.SetProjectFile("/keep/book.opf");
  EXPECT_EQ(p.Load(dir / "missing.opf"), E_FAIL);
  p.SetErrorFeedback(1);
  EXPECT_EQ(p.Load(dir / "bad.opf"), E_FAIL);
  EXPECT_EQ(p.Load(""), E_FAIL);
  EXPECT_EQ(p.Load(std::string(5000, 'a')), E_FAIL);  // longer than any full path

  EXPECT_EQ(Get(p, &IProject::ProjectFile), "/keep/book.opf");
  EXPECT_EQ(Changed(p), 1);
  EXPECT_EQ(ParamsOf(p).UIHelper(), nullptr);
  // The helper was in place, quiet at first and then showing at once.
  ASSERT_GE(recorder.shown.size(), 2u);
  EXPECT_EQ(recorder.shown.front().second, 0);
  EXPECT_EQ(recorder.shown.back().second, 1);
}

class FakeContext : public IScriptingContext {
 public:
  HRESULT Request(std::shared_ptr<ComObject>* out) override { return Give(out); }
  HRESULT Response(std::shared_ptr<ComObject>* out) override { return Give(out); }
  HRESULT Server(std::shared_ptr<ComObject>* out) override { return Give(out); }
  HRESULT Session(std::shared_ptr<ComObject>* out) override { return fail_session ? E_FAIL : Give(out); }
  HRESULT Application(std::shared_ptr<ComObject>* out) override { return Give(out); }
  bool AllReleased() const {
    return std::all_of(given.begin(), given.end(), [](const auto& object) { return object.expired(); });
  }
  bool fail_session = false;
  std::vector<std::weak_ptr<ComObject>> given;

 private:
  HRESULT Give(std::shared_ptr<ComObject>* out) {
    *out = NewProject();  // any object will do
    given.push_back(*out);
    return S_OK;
  }
};

TEST(Project, PageHooksTakeAndReleaseTheIntrinsics) {
  CBookInfo p;
  CBookInfo not_a_context;
  EXPECT_EQ(p.OnStartPage(nullptr), E_POINTER);
  EXPECT_EQ(p.OnStartPage(&not_a_context), E_NOINTERFACE);

  FakeContext context;
  EXPECT_EQ(p.OnStartPage(&context), S_OK);
  EXPECT_EQ(context.given.size(), 5u);
  EXPECT_FALSE(context.AllReleased());
  EXPECT_EQ(p.OnEndPage(), S_OK);
  EXPECT_TRUE(context.AllReleased());

  FakeContext failing;
  failing.fail_session = true;
  EXPECT_EQ(p.OnStartPage(&failing), E_FAIL);
  EXPECT_EQ(failing.given.size(), 3u);
  EXPECT_TRUE(failing.AllReleased());
}

TEST(Module, RegistryCreatesProjectsAndCountsThem) {
  const long before = ModuleLockCount();
  {
    for (std::string name : {std::string(kProjectProgId), std::string(kProjectIndependentProgId),
                             std::string(kProjectClassId), std::string("{764eaeb5-1d6c-4304-95f9-f30fc95e8f6b}")}) {
      std::shared_ptr<IProject> project;
      EXPECT_EQ(CreateObject(name, &project), S_OK) << name;
      ASSERT_NE(project, nullptr);
      EXPECT_EQ(ModuleLockCount(), before + 1);
      EXPECT_EQ(CanUnloadNow(), S_FALSE);
    }
    const ClassEntry* entry = FindClass(kProjectIndependentProgId);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->name, "Project Class");
    EXPECT_EQ(entry->prog_id, kProjectProgId);

    std::shared_ptr<ComObject> object;
    EXPECT_EQ(CreateObject("ikpublisher.project.1", &object), REGDB_E_CLASSNOTREG);  // names are exact
    EXPECT_EQ(CreateObject("IKPublisher.Nothing", &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CreateObject(kProjectProgId, static_cast<std::shared_ptr<ComObject>*>(nullptr)), E_POINTER);
  }
  EXPECT_EQ(ModuleLockCount(), before);
  EXPECT_EQ(CanUnloadNow(), before == 0 ? S_OK : S_FALSE);
  LockModule(true);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  LockModule(false);
  EXPECT_EQ(ModuleLockCount(), before);

  EXPECT_EQ(LoadStringResource(100), "ScrivelX");
  EXPECT_EQ(LoadStringResource(101), "OEB Check Complete.");
  EXPECT_EQ(LoadStringResource(102), "");
}

}  // namespace
}  // namespace ikpubx
