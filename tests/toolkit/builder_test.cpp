// The Builder: engine callbacks as events, what each operation hands the
// engine (with a scripted engine), the temporary files it makes and removes,
// and whole builds through the real engine read back by the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "build_engine.h"
#include "ikpubx/builder.h"
#include "ikpubx/module.h"
#include "test_util.h"
#include "vellix/book.h"

namespace ikpubx {
namespace {

namespace fs = std::filesystem;
using Callbacks = ikutil::EngineCallbacks;
using Strings = std::vector<std::string>;

// What one engine task was given, noted when it ran.
struct EngineCall {
  std::string project_file, first_source_text, dest_dir, dest_name, log_dir;
  Strings sources;
  bool saved = false, preview = false, flag = false;
  int32_t index = 0;
};

// Each task notes its call, runs `script` and answers `result` (or throws).
class ScriptedEngine : public BuildEngine {
 public:
  std::function<void(const Callbacks&)> script = [](const Callbacks&) {};
  int result = 0;
  bool throws = false, cancel_requested = false;
  std::vector<EngineCall> calls;

  std::unique_ptr<EngineBuild> NewBuild(ikutil::CBookParams* params, const Callbacks& callbacks) override {
    struct ScriptedBuild : EngineBuild {
      ScriptedEngine* engine;
      ikutil::CBookParams* params;
      Callbacks callbacks;
      ikutil::TaskOutcome Build(bool preview) override {
        engine->Note(params).preview = preview;
        return Outcome(engine->Run(callbacks) == 0 && !engine->cancel_requested);
      }
      void RequestCancel(bool cancel) override { engine->cancel_requested = cancel; }
    };
    auto build = std::make_unique<ScriptedBuild>();
    build->engine = this, build->params = params, build->callbacks = callbacks;
    return build;
  }
  // `result` as the engine's numbers say it: non-zero for a container
  // written.
  ikutil::TaskOutcome GenerateOEBFF(ikutil::CBookParams* params, const Callbacks& callbacks,
                                    bool needs_validation) override {
    Note(params).flag = needs_validation;
    return Outcome(Run(callbacks) != 0);
  }
  ikutil::TaskOutcome Validate(ikutil::CBookParams* params, const Callbacks& callbacks, int32_t index) override {
    Note(params).index = index;
    return Outcome(Run(callbacks) == 0);
  }
  ikutil::TaskOutcome BuildFromContainer(const ikutil::OEBFFContainerView& container, const Callbacks& callbacks,
                                         bool preview, const std::string& dest_dir, const std::string& log_dir,
                                         const std::string& dest_name) override {
    EngineCall& call = calls.emplace_back();
    call.dest_dir = dest_dir, call.dest_name = dest_name, call.log_dir = log_dir;
    call.preview = preview, call.flag = container.failed;
    return Outcome(Run(callbacks) == 0);
  }

  static ikutil::TaskOutcome Outcome(bool written) {
    if (written) return {{}, "/books/written.imp"};
    return {ikutil::Status(ikutil::Status::Code::kFailed, "not built", "story.htm"), {}};
  }

 private:
  EngineCall& Note(ikutil::CBookParams* params) {
    EngineCall& call = calls.emplace_back();
    call.project_file = params->project_file_path;
    call.saved = fs::is_regular_file(call.project_file) && fs::file_size(call.project_file) > 0;
    for (size_t i = 0; i < params->NumSources(); ++i) call.sources.push_back(params->Source(i)->Name());
    if (!call.sources.empty()) {
      std::ifstream in(call.sources[0], std::ios::binary);
      call.first_source_text.assign(std::istreambuf_iterator<char>(in), {});
    }
    return call;
  }
  int Run(const Callbacks& callbacks) {
    script(callbacks);
    if (throws) throw std::runtime_error("engine failure");
    return result;
  }
};

// Writes each event as one line "<tag><event>|<argument>|...".
class Recorder : public IBuilderEvents {
 public:
  explicit Recorder(Strings* log, std::string tag = "") : log_(log), tag_(std::move(tag)) {}
  std::function<void()> on_source_start = [] {};

  void OnBuildStart(IProject*) override { Add("build"); }
  void OnError(const std::string& file, const std::string& message, int32_t line, int32_t column,
               int16_t severity) override {
    Add("error", file, message, line, column, severity);
  }
  void OnSourceStart(const std::string& file, int32_t n, int32_t total) override {
    Add("source", file, n, total);
    on_source_start();
  }
  void OnParserFeedback(int32_t current, int32_t total) override { Add("parsed", current, total); }
  void OnLayoutFeedback(const std::string& message) override { Add("layout", message); }
  void OnSourceDone(const std::string& file, int32_t n, int32_t total) override { Add("done", file, n, total); }

 private:
  template <typename... T>
  void Add(const std::string& event, const T&... arguments) {
    std::ostringstream line;
    line << tag_ << event;
    ((line << '|' << arguments), ...);
    log_->push_back(line.str());
  }
  Strings* log_;
  std::string tag_;
};

// Runs in a fresh current directory, so that no temporary file of the
// Builder's can hide; every test ends with none left there.
class BuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(dir_.path());
    uint32_t cookie = 0;
    ASSERT_EQ(builder_->Advise(recorder_, &cookie), S_OK);
  }
  void TearDown() override {
    EXPECT_EQ(Temporaries(dir_.path()), Strings{});
    fs::current_path(previous_);
  }
  static Strings Temporaries(const std::string& folder) {
    Strings found = vellix::fixtures::Names(folder);
    std::erase_if(found, [](const std::string& name) { return name.rfind("opf", 0) && name.rfind("scv", 0); });
    return found;
  }
  static std::string Prefix(const std::string& path) { return fs::path(path).filename().string().substr(0, 3); }
  std::string Cwd() const { return fs::current_path().string() + "/"; }
  std::string ProjectFile() {
    std::string file = "unread";
    project_->ProjectFile(&file);
    return file;
  }

  vellix::fixtures::TempDir dir_;
  fs::path previous_;
  std::shared_ptr<ScriptedEngine> engine_ = std::make_shared<ScriptedEngine>();
  std::shared_ptr<IBuilder> builder_ = NewBuilder(engine_);
  Strings log_;
  std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>(&log_);
  std::shared_ptr<IProject> project_ = NewProject();
};

TEST_F(BuilderTest, CallbacksBecomeEvents) {
  ikutil::CWinSourceFile entry("/books/a.htm", 0);
  engine_->script = [&](const Callbacks& cb) {
    for (uint32_t count : {0u, 500u, 1000u, 1500u, 2000u})
      cb.parser_progress_callback(count, 2000, cb.parser_progress_context);
    for (const char* message : {"C:\\dir\\a.htm: bad thing (Line 3, Col 4)", "no mark at all",
                                "/books/a.htm: unclosed <p> (Line 3, Col 4)", "ends here (Line 7)", "(Line 1) x: y"})
      cb.error_callback(&entry, message, 3, 4, 2, cb.error_context);
    cb.error_callback(nullptr, nullptr, -1, -1, 0, cb.error_context);
    cb.layout_message_callback(nullptr, cb.layout_message_context);
    cb.source_start_callback("a.htm", 1, 2, cb.source_start_context);
    cb.source_done_callback(nullptr, 1, 2, cb.source_done_context);
  };
  int32_t threshold = 0;
  EXPECT_EQ(builder_->SetFeedbackThreshold(1000), S_OK);
  EXPECT_EQ(builder_->SetFeedbackThreshold(0), E_INVALIDARG);
  EXPECT_EQ(builder_->SetFeedbackThreshold(-5), E_INVALIDARG);
  EXPECT_EQ(builder_->FeedbackThreshold(&threshold), S_OK);
  EXPECT_EQ(threshold, 1000);

  EXPECT_EQ(builder_->Build(project_.get()), S_OK);
  EXPECT_EQ(log_,
            (Strings{"build", "parsed|1000|2000", "parsed|2000|2000",
                     "error|/books/a.htm|\\dir\\a.htm: bad thing |3|4|2", "error|/books/a.htm|no mark at all|3|4|2",
                     "error|/books/a.htm| unclosed <p> |3|4|2", "error|/books/a.htm|ends here |3|4|2",
                     "error|/books/a.htm| y|3|4|2", "error|||-1|-1|0", "layout|", "source|a.htm|1|2", "done||1|2"}));
}

TEST_F(BuilderTest, UnnamedProjectBuildsThroughATemporaryProjectFile) {
  // The preview set, the engine's answer, whether it throws, the Build's
  // answer, and whether the engine was asked for a preview.
  for (auto [set, result, throws, expected, asked] :
       {std::tuple<int32_t, int, bool, HRESULT, bool>{0, 0, false, S_OK, false},
        {1, 0, false, S_OK, true},
        {-1, 0, false, S_OK, false},
        {0, 1, false, E_FAIL, false},
        {0, 0, true, E_FAIL, false}}) {
    engine_->calls.clear();
    engine_->result = result;
    engine_->throws = throws;
    int32_t preview = 0;
    EXPECT_EQ(builder_->SetPreview(set), S_OK);
    builder_->Preview(&preview);
    EXPECT_EQ(preview, set);

    EXPECT_EQ(builder_->Build(project_.get()), expected);
    ASSERT_EQ(engine_->calls.size(), 1u);
    EXPECT_EQ(engine_->calls[0].preview, asked);
    EXPECT_EQ(fs::path(engine_->calls[0].project_file).parent_path(), fs::current_path());
    EXPECT_EQ(Prefix(engine_->calls[0].project_file), "opf");
    EXPECT_TRUE(engine_->calls[0].saved);
    EXPECT_EQ(ProjectFile(), "");
    EXPECT_EQ(Temporaries(dir_.path()), Strings{});
  }
  // A named project is built where it is.
  project_->SetProjectFile(dir_ / "named.opf");
  engine_->throws = false;
  EXPECT_EQ(builder_->Build(project_.get()), S_OK);
  EXPECT_EQ(engine_->calls.back().project_file, dir_ / "named.opf");
}

TEST_F(BuilderTest, AbortBuildReachesOnlyARunningBuild) {
  EXPECT_EQ(builder_->AbortBuild(), S_OK);
  EXPECT_FALSE(engine_->cancel_requested);

  recorder_->on_source_start = [&] { EXPECT_EQ(builder_->AbortBuild(), S_OK); };
  engine_->script = [](const Callbacks& cb) { cb.source_start_callback("a.htm", 1, 1, cb.source_start_context); };
  EXPECT_EQ(builder_->Build(project_.get()), E_FAIL);
  EXPECT_TRUE(engine_->cancel_requested);

  engine_->cancel_requested = false;
  EXPECT_EQ(builder_->BuildFromOEBFF(dir_ / "none.oeb", "Book", "", 0), S_OK);
  EXPECT_FALSE(engine_->cancel_requested) << "a container build is not the current build";
}

Variant ArrayOf(
    VARTYPE type, std::function<void(SafeArray&)> fill = [](SafeArray&) {}) {
  auto array = std::make_shared<SafeArray>();
  array->element_type = type;
  fill(*array);
  return Variant::Array(array);
}

TEST_F(BuilderTest, FileListVariants) {
  Variant variants = ArrayOf(VT_VARIANT, [](SafeArray& a) { a.variants = {Variant::String("c.htm")}; });
  Variant names = ArrayOf(VT_BSTR, [](SafeArray& a) { a.strings = {"a.htm", "b.htm"}; });
  Variant mixed = ArrayOf(VT_VARIANT, [](SafeArray& a) {
    a.variants = {Variant::String("a.htm"), Variant::Integer(1)};
  });
  std::tuple<Variant, HRESULT, Strings> cases[] = {
      {Variant::Integer(5), E_INVALIDARG, {}},
      {ArrayOf(VT_VARIANT), S_OK, {}},
      {names, S_OK, {"a.htm", "b.htm"}},
      {Variant::RefTo(&variants), S_OK, {"c.htm"}},
      {ArrayOf(VT_BSTR, [](SafeArray& a) { a.dimensions = 2; }), E_INVALIDARG, {}},
      {ArrayOf(VT_BSTR, [](SafeArray& a) { a.bounds_readable = false; }), E_INVALIDARG, {}},
      {ArrayOf(VT_I4), E_INVALIDARG, {}},
      {mixed, E_FAIL, {}},
      {ArrayOf(VT_BOOL, [](SafeArray& a) { a.variants = {Variant::Integer(-1)}; }), E_FAIL, {}},
  };
  for (auto& [list, expected, sources] : cases) {
    engine_->calls.clear();
    EXPECT_EQ(builder_->BuildFromHTMLFiles(&list), expected) << list.vt;
    ASSERT_EQ(engine_->calls.size(), expected == S_OK ? 1u : 0u);
    if (expected != S_OK) continue;
    EXPECT_EQ(engine_->calls[0].sources, sources);
    EXPECT_EQ(engine_->calls[0].project_file, Cwd());
  }
  EXPECT_EQ(builder_->BuildFromHTMLFiles(nullptr), E_POINTER);
}

TEST_F(BuilderTest, DocumentsFromMemoryGoThroughATemporarySource) {
  Variant text = Variant::String("<p>by reference</p>");
  std::string with_zero("<p>bytes</p>\0after", 18);
  Variant bytes = ArrayOf(VT_UI1, [&](SafeArray& a) { a.bytes.assign(with_zero.begin(), with_zero.end()); });
  std::tuple<Variant, HRESULT, std::string> cases[] = {
      {Variant::String("<p>text</p>"), S_OK, "<p>text</p>"},
      {Variant::RefTo(&text), S_OK, "<p>by reference</p>"},
      {bytes, S_OK, "<p>bytes</p>"},
      {Variant::RefTo(&bytes), S_OK, "<p>bytes</p>"},
      {Variant::Integer(7), E_INVALIDARG, ""},
      {ArrayOf(VT_VARIANT), E_INVALIDARG, ""},
  };
  for (auto& [document, expected, written] : cases) {
    engine_->calls.clear();
    EXPECT_EQ(builder_->BuildFromHTML(&document), expected) << written;
    EXPECT_EQ(Temporaries(dir_.path()), Strings{});
    ASSERT_EQ(engine_->calls.size(), expected == S_OK ? 1u : 0u);
    if (expected != S_OK) continue;
    ASSERT_EQ(engine_->calls[0].sources.size(), 1u);
    EXPECT_EQ(Prefix(engine_->calls[0].sources[0]), "scv");
    EXPECT_EQ(engine_->calls[0].first_source_text, written);
    EXPECT_EQ(engine_->calls[0].project_file, Cwd());
  }
  engine_->result = 1;
  EXPECT_EQ(builder_->BuildFromHTML(&text), E_FAIL);
  engine_->throws = true;
  EXPECT_EQ(builder_->BuildFromHTML(&text), E_FAIL);
}

TEST_F(BuilderTest, HTCheckEndsWithCompletionEvenAfterErrors) {
  engine_->script = [](const Callbacks& cb) {
    cb.error_callback(nullptr, "a.htm: broken (Line 1, Col 2)", 1, 2, 2, cb.error_context);
  };
  EXPECT_EQ(builder_->HTCheck(project_.get(), 3), S_OK);
  EXPECT_EQ(log_, (Strings{"build", "error|| broken |1|2|2", "error||OEB Check Complete.|-1|-1|0"}));
  ASSERT_EQ(engine_->calls.size(), 1u);
  EXPECT_EQ(engine_->calls[0].index, 3);
  EXPECT_TRUE(engine_->calls[0].saved);
  EXPECT_EQ(ProjectFile(), "");
  engine_->throws = true;
  EXPECT_EQ(builder_->HTCheck(project_.get(), -1), E_FAIL);
}

TEST_F(BuilderTest, GenerateOEBFFSavesBesideTheProjectFile) {
  fs::create_directory(dir_ / "sub");
  project_->SetProjectFile(dir_ / "sub/book.opf");
  engine_->result = 1;
  EXPECT_EQ(builder_->GenerateOEBFF(project_.get(), 1), S_OK);
  engine_->result = 0;
  EXPECT_EQ(builder_->GenerateOEBFF(project_.get(), 0), E_FAIL);
  ASSERT_EQ(engine_->calls.size(), 2u);
  for (const EngineCall& call : engine_->calls) {
    EXPECT_EQ(fs::path(call.project_file).parent_path(), fs::path(dir_ / "sub"));
    EXPECT_EQ(Prefix(call.project_file), "opf");
  }
  EXPECT_TRUE(engine_->calls[0].flag);
  EXPECT_FALSE(engine_->calls[1].flag);
  Variant params;
  project_->GetBookParams(&params);
  EXPECT_EQ(static_cast<ikutil::CBookParams*>(params.byref)->project_file_path, dir_ / "sub/book.opf");
  EXPECT_EQ(Temporaries(dir_ / "sub"), Strings{});
  EXPECT_EQ(log_, (Strings{"build", "build"}));

  // Without a project file, in the current directory.
  project_->SetProjectFile("");
  engine_->throws = true;
  EXPECT_EQ(builder_->GenerateOEBFF(project_.get(), 0), E_FAIL);
  EXPECT_EQ(fs::path(engine_->calls.back().project_file).parent_path(), fs::current_path());
}

TEST_F(BuilderTest, BuildFromOEBFFSplitsTheDestination) {
  // The destination given, and the folder, name and preview the engine gets.
  for (const auto& [dest, folder_and_name, preview, asked] :
       {std::tuple<std::string, std::string, int32_t, bool>{"/books/out/Story", "/books/out|Story", -1, true},
        {"Story", "|Story", 0, false},
        {"out/", "out|", 1, true}}) {
    engine_->calls.clear();
    EXPECT_EQ(builder_->BuildFromOEBFF(dir_ / "missing.oeb", dest, "logs", preview), S_OK);
    ASSERT_EQ(engine_->calls.size(), 1u);
    const EngineCall& call = engine_->calls[0];
    EXPECT_EQ(call.dest_dir + "|" + call.dest_name + "|" + call.log_dir, folder_and_name + "|logs");
    EXPECT_EQ(call.preview, asked);
    EXPECT_TRUE(call.flag) << "a missing container reaches the engine as failed";
  }
  EXPECT_EQ(log_, Strings{}) << "no build start";
  engine_->result = 1;
  EXPECT_EQ(builder_->BuildFromOEBFF(dir_ / "missing.oeb", "Story", "", 0), E_FAIL);
}

TEST_F(BuilderTest, EventsReachEverySinkInConnectionOrder) {
  Strings order;
  std::shared_ptr<Recorder> sinks[] = {std::make_shared<Recorder>(&order, "1 "),
                                       std::make_shared<Recorder>(&order, "2 "),
                                       std::make_shared<Recorder>(&order, "3 ")};
  uint32_t cookies[3] = {};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(builder_->Advise(sinks[i], &cookies[i]), S_OK);
  sinks[0]->on_source_start = [&] { builder_->Unadvise(cookies[2]); };
  engine_->script = [](const Callbacks& cb) { cb.source_start_callback("a.htm", 1, 1, cb.source_start_context); };
  EXPECT_EQ(builder_->Build(project_.get()), S_OK);
  EXPECT_EQ(order, (Strings{"1 build", "2 build", "3 build", "1 source|a.htm|1|1", "2 source|a.htm|1|1"}));

  EXPECT_EQ(builder_->Unadvise(cookies[2]), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(builder_->Advise(nullptr, &cookies[2]), E_POINTER);
  uint32_t viewer = 0;
  EXPECT_EQ(builder_->AdviseViewerEvents(std::make_shared<IViewerEvents>(), &viewer), S_OK);
  EXPECT_EQ(builder_->UnadviseViewerEvents(viewer), S_OK);
}

TEST(BuilderClass, IsRegisteredAndRefusesWhatIsMissing) {
  std::shared_ptr<IBuilder> builder;
  ASSERT_EQ(CreateObject(kBuilderIndependentProgId, &builder), S_OK);
  int32_t threshold = 0, preview = 7;
  builder->FeedbackThreshold(&threshold);
  builder->Preview(&preview);
  EXPECT_EQ(threshold, 1);
  EXPECT_EQ(preview, 0);
  EXPECT_EQ(builder->Build(nullptr), E_POINTER);
  EXPECT_EQ(builder->HTCheck(nullptr, 0), E_POINTER);
  EXPECT_EQ(builder->GenerateOEBFF(nullptr, 0), E_POINTER);

  EXPECT_EQ(builder->OnStartPage(nullptr), E_POINTER);
  EXPECT_EQ(builder->OnStartPage(builder.get()), E_NOINTERFACE);
  EXPECT_EQ(builder->OnEndPage(), S_OK);
}

// --- Through the real engine ---

class RealBuilderTest : public BuilderTest {
 protected:
  void SetUp() override {
    builder_ = NewBuilder();
    BuilderTest::SetUp();
    dir_.Write("story.htm",
               "<html><head><title>Story</title></head><body>\n<h1>Chapter One</h1>\n"
               "<p>Once upon a time. <a href=\"ch2.htm\">On</a>.</p>\n</body></html>\n");
    dir_.Write("ch2.htm", "<html><head><title>Two</title></head><body>\n<p>The end.</p>\n</body></html>\n");
    project_->SetBookFileName("STORY");
    project_->SetBookTitle("A Title");
    project_->AddSourceFile("story.htm");
    project_->AddSourceFile("ch2.htm");
    ASSERT_EQ(project_->Save(dir_ / "story.opf"), S_OK);
  }
  static std::string TitleOf(const std::string& book) {
    vellix::Book read;
    read.Load(book);
    return read.Title();
  }
  std::string Log() const { return ::testing::PrintToString(log_); }
};

TEST_F(RealBuilderTest, BuildsProjectsAndTheirContainersIntoBooksTheLibraryReads) {
  EXPECT_EQ(builder_->BuildFromProject(dir_ / "story.opf"), S_OK) << Log();
  EXPECT_EQ(TitleOf(dir_ / "STORY.imp"), "A Title");
  EXPECT_EQ(log_[0], "build");
  EXPECT_NE(std::find(log_.begin(), log_.end(), "done|ch2.htm|2|2"), log_.end()) << Log();
  EXPECT_EQ(builder_->BuildFromProject(dir_ / "missing.opf"), E_FAIL);

  fs::remove(dir_ / "STORY.imp");
  project_->SetProjectFile("");
  EXPECT_EQ(builder_->Build(project_.get()), S_OK) << Log();
  EXPECT_EQ(TitleOf(dir_ / "STORY.imp"), "A Title");

  // Its container, and the book built from that.
  ASSERT_EQ(builder_->GenerateOEBFF(project_.get(), 1), S_OK) << Log();
  fs::create_directory(dir_ / "out");
  ASSERT_EQ(builder_->BuildFromOEBFF(dir_ / "STORY.oeb", dir_ / "out/FROMOEB", "", -1), S_OK) << Log();
  EXPECT_EQ(TitleOf(dir_ / "out/FROMOEB.imp"), "A Title");
}

TEST_F(RealBuilderTest, AbortFromSourceStartLeavesNoBook) {
  recorder_->on_source_start = [&] { builder_->AbortBuild(); };
  EXPECT_EQ(builder_->BuildFromProject(dir_ / "story.opf"), E_FAIL);
  EXPECT_FALSE(fs::exists(dir_ / "STORY.imp"));
  EXPECT_EQ(std::count_if(log_.begin(), log_.end(), [](const std::string& e) { return e.rfind("source|", 0) == 0; }),
            1);
}

TEST_F(RealBuilderTest, HTMLBuildsWriteABookAndCleanUp) {
  // A new project's book is the engine's "Inkleaf", in the current folder.
  Variant document = Variant::String("<html><head><title>Memo</title></head><body><p>x</p></body></html>");
  Variant files = ArrayOf(VT_BSTR, [](SafeArray& a) { a.strings = {"story.htm", "ch2.htm"}; });
  for (auto build : std::vector<std::function<HRESULT()>>{[&] { return builder_->BuildFromHTMLFile("story.htm"); },
                                                          [&] { return builder_->BuildFromHTMLFiles(&files); },
                                                          [&] { return builder_->BuildFromHTML(&document); }}) {
    fs::remove(dir_ / "Inkleaf.imp");
    EXPECT_EQ(build(), S_OK) << Log();
    EXPECT_TRUE(fs::exists(dir_ / "Inkleaf.imp"));
    EXPECT_EQ(TitleOf(dir_ / "Inkleaf.imp"), "");
  }
}

TEST_F(RealBuilderTest, CheckReportsTheBrokenSourceByName) {
  dir_.Write("bad.htm", "<html><body>\n<p>one <b>two</p>\n</body></html>\n");
  project_->AddSourceFile("bad.htm");
  EXPECT_EQ(builder_->HTCheck(project_.get(), 2), S_OK);
  ASSERT_GE(log_.size(), 3u);
  EXPECT_EQ(log_.back(), "error||OEB Check Complete.|-1|-1|0");
  EXPECT_EQ(log_[2].rfind("error|bad.htm| not well-formed", 0), 0u) << Log();
}

}  // namespace
}  // namespace ikpubx
