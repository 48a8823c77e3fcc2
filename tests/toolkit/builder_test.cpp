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
#include <vector>

#include "ikpubx/builder.h"
#include "ikpubx/module.h"
#include "test_util.h"
#include "vellix/book.h"

namespace ikpubx {
namespace {

namespace fs = std::filesystem;
using vellix::fixtures::TempDir;
using Strings = std::vector<std::string>;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// What one engine task was given, noted when it ran.
struct EngineCall {
  std::string kind, project_file, dest_dir, dest_name, log_dir;
  bool project_file_existed = false, preview = false, flag = false;
  Strings sources;
  std::string first_source_text;
  int32_t index = 0;
};

// Each task notes its call, runs `script` (callbacks as the engine would
// call them) and answers `result`, or throws when `throws`.
class ScriptedEngine : public BuildEngine {
 public:
  std::function<void(const ikutil::EngineCallbacks&)> script = [](const ikutil::EngineCallbacks&) {};
  int result = 0;
  bool throws = false;
  bool cancel_requested = false;
  std::vector<EngineCall> calls;

  std::unique_ptr<EngineBuild> NewBuild(ikutil::CBookParams* params,
                                        const ikutil::EngineCallbacks& callbacks) override {
    struct Build : EngineBuild {
      ScriptedEngine* engine;
      ikutil::CBookParams* params;
      ikutil::EngineCallbacks callbacks;
      int OutputBook(bool preview) override {
        engine->Note("build", params).preview = preview;
        return engine->Run(callbacks) + (engine->cancel_requested ? 1 : 0);
      }
      void RequestCancel(bool cancel) override { engine->cancel_requested = cancel; }
    };
    auto build = std::make_unique<Build>();
    build->engine = this;
    build->params = params;
    build->callbacks = callbacks;
    return build;
  }
  int GenerateOEBFF(ikutil::CBookParams* params, const ikutil::EngineCallbacks& callbacks,
                    bool needs_validation) override {
    Note("oebff", params).flag = needs_validation;
    return Run(callbacks);
  }
  void Validate(ikutil::CBookParams* params, const ikutil::EngineCallbacks& callbacks, int32_t index) override {
    Note("check", params).index = index;
    Run(callbacks);
  }
  int BuildFromContainer(const ikutil::OEBFFContainerView& container, const ikutil::EngineCallbacks& callbacks,
                         bool preview, const std::string& dest_dir, const std::string& log_dir,
                         const std::string& dest_name) override {
    EngineCall call;
    call.kind = "container";
    call.project_file = container.path;
    call.dest_dir = dest_dir;
    call.dest_name = dest_name;
    call.log_dir = log_dir;
    call.preview = preview;
    call.flag = container.failed;
    calls.push_back(call);
    return Run(callbacks);
  }

 private:
  EngineCall& Note(const std::string& kind, ikutil::CBookParams* params) {
    EngineCall call;
    call.kind = kind;
    call.project_file = params->project_file_path;
    call.project_file_existed = fs::is_regular_file(call.project_file) && fs::file_size(call.project_file) > 0;
    for (size_t i = 0; i < params->NumSources(); ++i) call.sources.push_back(params->Source(i)->Name());
    if (!call.sources.empty()) call.first_source_text = ReadFile(call.sources[0]);
    calls.push_back(call);
    return calls.back();
  }
  int Run(const ikutil::EngineCallbacks& callbacks) {
    script(callbacks);
    if (throws) throw std::runtime_error("engine failure");
    return result;
  }
};

// Writes every event it receives as one line, prefixed with its tag.
class Recorder : public IBuilderEvents {
 public:
  Recorder(Strings* log, std::string tag = "") : log_(log), tag_(std::move(tag)) {}
  std::function<void()> on_source_start;

  void OnBuildStart(IProject*) override { Add("build start"); }
  void OnError(const std::string& file, const std::string& message, int32_t line, int32_t column,
               int16_t severity) override {
    Add("error " + file + "|" + message + "|" + std::to_string(line) + "," + std::to_string(column) + "," +
        std::to_string(severity));
  }
  void OnSourceStart(const std::string& file, int32_t n, int32_t total) override {
    Add("source " + file + " " + std::to_string(n) + "/" + std::to_string(total));
    if (on_source_start) on_source_start();
  }
  void OnParserFeedback(int32_t current, int32_t total) override {
    Add("parsed " + std::to_string(current) + "/" + std::to_string(total));
  }
  void OnLayoutFeedback(const std::string& message) override { Add("layout " + message); }
  void OnSourceDone(const std::string& file, int32_t n, int32_t total) override {
    Add("done " + file + " " + std::to_string(n) + "/" + std::to_string(total));
  }

 private:
  void Add(const std::string& line) { log_->push_back(tag_ + line); }
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
    builder_ = NewBuilder(engine_);
    uint32_t cookie = 0;
    ASSERT_EQ(builder_->Advise(recorder_, &cookie), S_OK);
  }
  void TearDown() override {
    EXPECT_EQ(Temporaries(dir_.path()), Strings{});
    fs::current_path(previous_);
  }
  static Strings Temporaries(const std::string& folder) {
    Strings found;
    for (const std::string& name : vellix::fixtures::Names(folder))
      if (name.rfind("opf", 0) == 0 || name.rfind("scv", 0) == 0) found.push_back(name);
    return found;
  }
  std::string Cwd() const { return fs::current_path().string() + "/"; }

  TempDir dir_;
  fs::path previous_;
  std::shared_ptr<ScriptedEngine> engine_ = std::make_shared<ScriptedEngine>();
  std::shared_ptr<IBuilder> builder_;
  Strings log_;
  std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>(&log_);
  std::shared_ptr<IProject> project_ = NewProject();
};

TEST_F(BuilderTest, CallbacksBecomeEvents) {
  ikutil::CWinSourceFile entry("/books/a.htm", 0);
  engine_->script = [&](const ikutil::EngineCallbacks& cb) {
    for (uint32_t count : {0u, 500u, 1000u, 1500u, 2000u})
      cb.parser_progress_callback(count, 2000, cb.parser_progress_context);
    for (const char* message : {"C:\\dir\\a.htm: bad thing (Line 3, Col 4)", "no mark at all",
                                "/books/a.htm: unclosed <p> (Line 3, Col 4)", "ends here (Line 7)", "(Line 1) x: y"})
      cb.error_callback(&entry, message, 3, 4, 2, cb.error_context);
    cb.error_callback(nullptr, nullptr, -1, -1, 0, cb.error_context);
    cb.layout_message_callback("Page 1", cb.layout_message_context);
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
  EXPECT_EQ(log_, (Strings{"build start", "parsed 1000/2000", "parsed 2000/2000",
                           "error /books/a.htm|\\dir\\a.htm: bad thing |3,4,2",
                           "error /books/a.htm|no mark at all|3,4,2", "error /books/a.htm| unclosed <p> |3,4,2",
                           "error /books/a.htm|ends here |3,4,2", "error /books/a.htm| y|3,4,2", "error ||-1,-1,0",
                           "layout Page 1", "layout ", "source a.htm 1/2", "done  1/2"}));
}

TEST_F(BuilderTest, UnnamedProjectBuildsThroughATemporaryProjectFile) {
  struct Case {
    int32_t preview;
    int result;
    bool throws;
    HRESULT expected;
    bool preview_asked;
  };
  for (Case c : {Case{0, 0, false, S_OK, false}, Case{1, 0, false, S_OK, true}, Case{-1, 0, false, S_OK, false},
                 Case{0, 1, false, E_FAIL, false}, Case{0, 0, true, E_FAIL, false}}) {
    engine_->calls.clear();
    engine_->result = c.result;
    engine_->throws = c.throws;
    builder_->SetPreview(c.preview);
    int32_t preview = 0;
    builder_->Preview(&preview);
    EXPECT_EQ(preview, c.preview);

    EXPECT_EQ(builder_->Build(project_.get()), c.expected);
    ASSERT_EQ(engine_->calls.size(), 1u);
    const EngineCall& call = engine_->calls[0];
    EXPECT_EQ(call.preview, c.preview_asked);
    EXPECT_EQ(fs::path(call.project_file).parent_path(), fs::current_path());
    EXPECT_EQ(fs::path(call.project_file).filename().string().substr(0, 3), "opf");
    EXPECT_TRUE(call.project_file_existed) << "the project was saved there";
    std::string project_file = "x";
    project_->ProjectFile(&project_file);
    EXPECT_EQ(project_file, "");
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
  engine_->script = [](const ikutil::EngineCallbacks& cb) {
    cb.source_start_callback("a.htm", 1, 1, cb.source_start_context);
  };
  EXPECT_EQ(builder_->Build(project_.get()), E_FAIL);
  EXPECT_TRUE(engine_->cancel_requested);

  // A container build is never the Builder's current build.
  engine_->cancel_requested = false;
  EXPECT_EQ(builder_->BuildFromOEBFF(dir_ / "none.oeb", "out/Book", "", 0), S_OK);
  EXPECT_FALSE(engine_->cancel_requested);
}

TEST_F(BuilderTest, FileListVariants) {
  auto array = [](VARTYPE type, std::function<void(SafeArray&)> fill = nullptr) {
    auto made = std::make_shared<SafeArray>();
    made->element_type = type;
    if (fill) fill(*made);
    return Variant::Array(made);
  };
  Variant strings = array(VT_BSTR, [](SafeArray& a) { a.strings = {"a.htm", "b.htm"}; });
  Variant variants = array(VT_VARIANT, [](SafeArray& a) { a.variants = {Variant::String("c.htm")}; });
  struct Case {
    Variant list;
    HRESULT expected;
    Strings sources;  // when the engine is reached
  };
  std::vector<Case> cases = {
      {Variant::Integer(5), E_INVALIDARG, {}},
      {array(VT_VARIANT), S_OK, {}},
      {strings, S_OK, {"a.htm", "b.htm"}},
      {Variant::RefTo(&variants), S_OK, {"c.htm"}},
      {array(VT_BSTR, [](SafeArray& a) { a.dimensions = 2; }), E_INVALIDARG, {}},
      {array(VT_BSTR, [](SafeArray& a) { a.bounds_readable = false; }), E_INVALIDARG, {}},
      {array(VT_I4), E_INVALIDARG, {}},
      {array(VT_VARIANT,
             [](SafeArray& a) {
               a.variants = {Variant::String("a.htm"), Variant::Integer(1)};
             }),
       E_FAIL,
       {}},
      {array(VT_BOOL, [](SafeArray& a) { a.variants = {Variant::Integer(-1)}; }), E_FAIL, {}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    engine_->calls.clear();
    EXPECT_EQ(builder_->BuildFromHTMLFiles(&cases[i].list), cases[i].expected) << i;
    if (cases[i].expected != S_OK) {
      EXPECT_TRUE(engine_->calls.empty()) << i;
      continue;
    }
    ASSERT_EQ(engine_->calls.size(), 1u) << i;
    EXPECT_EQ(engine_->calls[0].sources, cases[i].sources) << i;
    EXPECT_EQ(engine_->calls[0].project_file, Cwd()) << i;
  }
  EXPECT_EQ(builder_->BuildFromHTMLFiles(nullptr), E_POINTER);
}

TEST_F(BuilderTest, DocumentsFromMemoryGoThroughATemporarySource) {
  auto bytes = [](const std::string& text) {
    auto made = std::make_shared<SafeArray>();
    made->element_type = VT_UI1;
    made->bytes.assign(text.begin(), text.end());
    return Variant::Array(made);
  };
  Variant text = Variant::String("<p>by reference</p>");
  Variant array = bytes(std::string("<p>bytes</p>\0after", 18));
  struct Case {
    Variant document;
    HRESULT expected;
    std::string written;
  };
  std::vector<Case> cases = {
      {Variant::String("<p>text</p>"), S_OK, "<p>text</p>"},
      {Variant::RefTo(&text), S_OK, "<p>by reference</p>"},
      {array, S_OK, "<p>bytes</p>"},
      {Variant::RefTo(&array), S_OK, "<p>bytes</p>"},
      {Variant::Integer(7), E_INVALIDARG, ""},
      {Variant::Array(std::make_shared<SafeArray>()), E_INVALIDARG, ""},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    engine_->calls.clear();
    EXPECT_EQ(builder_->BuildFromHTML(&cases[i].document), cases[i].expected) << i;
    EXPECT_EQ(Temporaries(dir_.path()), Strings{}) << i;
    if (cases[i].expected != S_OK) {
      EXPECT_TRUE(engine_->calls.empty()) << i;
      continue;
    }
    ASSERT_EQ(engine_->calls.size(), 1u);
    ASSERT_EQ(engine_->calls[0].sources.size(), 1u);
    EXPECT_EQ(fs::path(engine_->calls[0].sources[0]).filename().string().substr(0, 3), "scv");
    EXPECT_EQ(engine_->calls[0].first_source_text, cases[i].written) << i;
    EXPECT_EQ(engine_->calls[0].project_file, Cwd());
  }
  engine_->result = 1;
  EXPECT_EQ(builder_->BuildFromHTML(&text), E_FAIL);
  engine_->throws = true;
  EXPECT_EQ(builder_->BuildFromHTML(&text), E_FAIL);
}

TEST_F(BuilderTest, HTCheckEndsWithCompletionEvenAfterErrors) {
  engine_->script = [](const ikutil::EngineCallbacks& cb) {
    cb.error_callback(nullptr, "a.htm: broken (Line 1, Col 2)", 1, 2, 2, cb.error_context);
  };
  EXPECT_EQ(builder_->HTCheck(project_.get(), 3), S_OK);
  EXPECT_EQ(log_, (Strings{"build start", "error | broken |1,2,2", "error |OEB Check Complete.|-1,-1,0"}));
  ASSERT_EQ(engine_->calls.size(), 1u);
  EXPECT_EQ(engine_->calls[0].index, 3);
  EXPECT_TRUE(engine_->calls[0].project_file_existed);
  std::string project_file = "x";
  project_->ProjectFile(&project_file);
  EXPECT_EQ(project_file, "");

  engine_->throws = true;
  EXPECT_EQ(builder_->HTCheck(project_.get(), -1), E_FAIL);
}

TEST_F(BuilderTest, GenerateOEBFFSavesBesideTheProjectFile) {
  fs::create_directory(dir_ / "sub");
  std::string named = dir_ / "sub/book.opf";
  project_->SetProjectFile(named);
  engine_->result = 1;
  EXPECT_EQ(builder_->GenerateOEBFF(project_.get(), 1), S_OK);
  engine_->result = 0;
  EXPECT_EQ(builder_->GenerateOEBFF(project_.get(), 0), E_FAIL);
  ASSERT_EQ(engine_->calls.size(), 2u);
  for (const EngineCall& call : engine_->calls) {
    EXPECT_EQ(fs::path(call.project_file).parent_path(), fs::path(dir_ / "sub"));
    EXPECT_EQ(fs::path(call.project_file).filename().string().substr(0, 3), "opf");
  }
  EXPECT_TRUE(engine_->calls[0].flag);
  EXPECT_FALSE(engine_->calls[1].flag);
  Variant params;
  project_->GetBookParams(&params);
  EXPECT_EQ(static_cast<ikutil::CBookParams*>(params.byref)->project_file_path, named);
  EXPECT_EQ(Temporaries(dir_ / "sub"), Strings{});
  EXPECT_EQ(log_, (Strings{"build start", "build start"}));

  // Without a project file the package is saved in the current directory.
  NewProject().swap(project_);
  engine_->throws = true;
  EXPECT_EQ(builder_->GenerateOEBFF(project_.get(), 0), E_FAIL);
  EXPECT_EQ(fs::path(engine_->calls.back().project_file).parent_path(), fs::current_path());
}

TEST_F(BuilderTest, BuildFromOEBFFSplitsTheDestination) {
  struct Case {
    std::string dest, dir, name;
    int32_t preview;
    bool preview_asked;
  };
  for (const Case& c : {Case{"/books/out/Story", "/books/out", "Story", -1, true}, Case{"Story", "", "Story", 0, false},
                        Case{"out/", "out", "", 1, true}}) {
    engine_->calls.clear();
    EXPECT_EQ(builder_->BuildFromOEBFF(dir_ / "missing.oeb", c.dest, "logs", c.preview), S_OK);
    ASSERT_EQ(engine_->calls.size(), 1u);
    const EngineCall& call = engine_->calls[0];
    EXPECT_EQ(call.dest_dir, c.dir);
    EXPECT_EQ(call.dest_name, c.name);
    EXPECT_EQ(call.log_dir, "logs");
    EXPECT_EQ(call.preview, c.preview_asked);
    EXPECT_TRUE(call.flag) << "a missing container reaches the engine as failed";
  }
  EXPECT_EQ(log_, Strings{}) << "no build start";
  engine_->result = 1;
  EXPECT_EQ(builder_->BuildFromOEBFF(dir_ / "missing.oeb", "Story", "", 0), E_FAIL);
}

TEST_F(BuilderTest, EventsReachEverySinkInConnectionOrder) {
  Strings order;
  auto first = std::make_shared<Recorder>(&order, "1 ");
  auto second = std::make_shared<Recorder>(&order, "2 ");
  auto third = std::make_shared<Recorder>(&order, "3 ");
  uint32_t cookies[3] = {};
  ASSERT_EQ(builder_->Advise(first, &cookies[0]), S_OK);
  ASSERT_EQ(builder_->Advise(second, &cookies[1]), S_OK);
  ASSERT_EQ(builder_->Advise(third, &cookies[2]), S_OK);
  first->on_source_start = [&] { builder_->Unadvise(cookies[2]); };
  engine_->script = [](const ikutil::EngineCallbacks& cb) {
    cb.source_start_callback("a.htm", 1, 1, cb.source_start_context);
  };
  EXPECT_EQ(builder_->Build(project_.get()), S_OK);
  EXPECT_EQ(order,
            (Strings{"1 build start", "2 build start", "3 build start", "1 source a.htm 1/1", "2 source a.htm 1/1"}));

  EXPECT_EQ(builder_->Unadvise(cookies[2]), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(builder_->Advise(nullptr, &cookies[2]), E_POINTER);
  uint32_t viewer = 0;
  EXPECT_EQ(builder_->AdviseViewerEvents(std::make_shared<IViewerEvents>(), &viewer), S_OK);
  EXPECT_EQ(builder_->UnadviseViewerEvents(viewer), S_OK);
}

TEST_F(BuilderTest, PageHooksTakeTheScriptingContext) {
  struct Context : IScriptingContext {
    HRESULT session_result = S_OK;
    HRESULT Give(std::shared_ptr<ComObject>* out) {
      *out = std::make_shared<IViewerEvents>();
      return S_OK;
    }
    HRESULT Request(std::shared_ptr<ComObject>* out) override { return Give(out); }
    HRESULT Response(std::shared_ptr<ComObject>* out) override { return Give(out); }
    HRESULT Server(std::shared_ptr<ComObject>* out) override { return Give(out); }
    HRESULT Session(std::shared_ptr<ComObject>* out) override {
      return Failed(session_result) ? session_result : Give(out);
    }
    HRESULT Application(std::shared_ptr<ComObject>* out) override { return Give(out); }
  } context;
  EXPECT_EQ(builder_->OnStartPage(nullptr), E_POINTER);
  EXPECT_EQ(builder_->OnStartPage(project_.get()), E_NOINTERFACE);
  context.session_result = E_OUTOFMEMORY;
  EXPECT_EQ(builder_->OnStartPage(&context), E_OUTOFMEMORY);
  context.session_result = S_OK;
  EXPECT_EQ(builder_->OnStartPage(&context), S_OK);
  EXPECT_EQ(builder_->OnEndPage(), S_OK);
}

TEST(BuilderClass, IsCreatedByItsProgramIdentifier) {
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
}

// --- Through the real engine ---

class RealBuilderTest : public BuilderTest {
 protected:
  void SetUp() override {
    BuilderTest::SetUp();
    builder_ = NewBuilder();
    uint32_t cookie = 0;
    ASSERT_EQ(builder_->Advise(recorder_, &cookie), S_OK);
    dir_.Write("story.htm",
               "<html><head><title>Story</title></head><body>\n<h1>Chapter One</h1>\n"
               "<p>Once upon a time. <a href=\"ch2.htm\">On</a>.</p>\n</body></html>\n");
    dir_.Write("ch2.htm", "<html><head><title>Two</title></head><body>\n<p>The end.</p>\n</body></html>\n");
    project_->SetBookFileName("STORY");
    project_->SetBookTitle("A Title");
    project_->SetAuthorFirstName("Jane");
    project_->SetAuthorLastName("Public");
    project_->AddSourceFile("story.htm");
    project_->AddSourceFile("ch2.htm");
    ASSERT_EQ(project_->Save(dir_ / "story.opf"), S_OK);
  }
  std::string TitleOf(const std::string& book) {
    vellix::Book read;
    read.Load(book);
    return read.Title();
  }
};

TEST_F(RealBuilderTest, BuildsAProjectFileIntoABookTheLibraryReads) {
  EXPECT_EQ(builder_->BuildFromProject(dir_ / "story.opf"), S_OK) << ::testing::PrintToString(log_);
  EXPECT_EQ(TitleOf(dir_ / "STORY.imp"), "A Title");
  EXPECT_EQ(log_[0], "build start");
  EXPECT_NE(std::find(log_.begin(), log_.end(), "done ch2.htm 2/2"), log_.end());
  EXPECT_EQ(builder_->BuildFromProject(dir_ / "missing.opf"), E_FAIL);
}

TEST_F(RealBuilderTest, AbortFromSourceStartLeavesNoBook) {
  recorder_->on_source_start = [&] { builder_->AbortBuild(); };
  EXPECT_EQ(builder_->BuildFromProject(dir_ / "story.opf"), E_FAIL);
  EXPECT_FALSE(fs::exists(dir_ / "STORY.imp"));
  EXPECT_EQ(std::count_if(log_.begin(), log_.end(), [](const std::string& e) { return e.rfind("source ", 0) == 0; }),
            1);
}

TEST_F(RealBuilderTest, ContainerOfAProjectBuildsTheSameBook) {
  ASSERT_EQ(builder_->GenerateOEBFF(project_.get(), 1), S_OK) << ::testing::PrintToString(log_);
  fs::create_directory(dir_ / "out");
  ASSERT_EQ(builder_->BuildFromOEBFF(dir_ / "STORY.oeb", dir_ / "out/FROMOEB", "", -1), S_OK)
      << ::testing::PrintToString(log_);
  EXPECT_EQ(TitleOf(dir_ / "out/FROMOEB.imp"), "A Title");
}

TEST_F(RealBuilderTest, UnnamedProjectAndHTMLBuildsReachTheEngine) {
  project_->SetProjectFile("");
  EXPECT_EQ(builder_->Build(project_.get()), S_OK) << ::testing::PrintToString(log_);
  EXPECT_EQ(TitleOf(dir_ / "STORY.imp"), "A Title");

  // A new project names no book file, which the engine refuses; the file
  // and memory roads get that far and clean up behind them.
  log_.clear();
  Variant document = Variant::String("<html><body><p>x</p></body></html>");
  auto list = std::make_shared<SafeArray>();
  list->element_type = VT_BSTR;
  list->strings = {"story.htm", "ch2.htm"};
  Variant files = Variant::Array(list);
  EXPECT_EQ(builder_->BuildFromHTMLFile("story.htm"), E_FAIL);
  EXPECT_EQ(builder_->BuildFromHTMLFiles(&files), E_FAIL);
  EXPECT_EQ(builder_->BuildFromHTML(&document), E_FAIL);
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "error | \"\" cannot name a book file|-1,-1,2"), 3)
      << ::testing::PrintToString(log_);
}

TEST_F(RealBuilderTest, CheckReportsTheBrokenSourceByName) {
  dir_.Write("bad.htm", "<html><body>\n<p>one <b>two</p>\n</body></html>\n");
  project_->AddSourceFile("bad.htm");
  EXPECT_EQ(builder_->HTCheck(project_.get(), 2), S_OK);
  ASSERT_GE(log_.size(), 3u);
  EXPECT_EQ(log_.back(), "error |OEB Check Complete.|-1,-1,0");
  EXPECT_EQ(log_[2].rfind("error bad.htm| not well-formed", 0), 0u) << ::testing::PrintToString(log_);
}

}  // namespace
}  // namespace ikpubx
