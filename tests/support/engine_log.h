// For the engine's own tests: every callback of an engine task as an event,
// and a book built from a container as the toolkit builds it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ikpubx/builder.h"
#include "ikutil/builder.h"

namespace vellix::fixtures {

struct EngineEvent {
  std::string kind, text, entry;  // entry: the source an error names
  int64_t a = 0, b = 0;           // line and severity, n and total, parsed and total
};

struct EngineLog {
  std::vector<EngineEvent> events;
  std::function<void()> on_source_start = [] {};

  EngineLog() = default;
  // A log of `task`'s callbacks from the start.
  explicit EngineLog(ikutil::EngineCallbacks& task) { Attach(task); }

  void Attach(ikutil::EngineCallbacks& task) {
    task.error_callback = [](ikutil::CSourceFile* entry, const char* text, int32_t line, int32_t, int16_t severity,
                             void* self) {
      Add(self, {"error", text, entry ? entry->Name() : "", line, severity});
    };
    task.parser_progress_callback = [](uint32_t n, uint32_t total, void* self) {
      Add(self, {"progress", "", "", n, total});
    };
    task.layout_message_callback = [](const char* text, void* self) { Add(self, {"layout", text, "", 0, 0}); };
    task.source_start_callback = [](const char* file, int32_t n, int32_t total, void* self) {
      Add(self, {"start", file, "", n, total});
      static_cast<EngineLog*>(self)->on_source_start();
    };
    task.source_done_callback = [](const char* file, int32_t n, int32_t total, void* self) {
      Add(self, {"done", file, "", n, total});
    };
    task.error_context = task.parser_progress_context = task.layout_message_context = task.source_start_context =
        task.source_done_context = this;
  }
  std::vector<std::string> Texts(const std::string& kind) const {
    std::vector<std::string> texts;
    for (const EngineEvent& e : events)
      if (e.kind == kind) texts.push_back(e.text);
    return texts;
  }
  // Every error as "<severity> [<entry>] <text>", one a line.
  std::string Errors() const {
    std::string all;
    for (const EngineEvent& e : events)
      if (e.kind == "error") all += std::to_string(e.b) + " [" + e.entry + "] " + e.text + "\n";
    return all;
  }

 private:
  static void Add(void* self, EngineEvent e) { static_cast<EngineLog*>(self)->events.push_back(std::move(e)); }
};

// Builds the book `container` holds into `folder`/`name`.imp as the toolkit
// does: the container read first, and the engine told when that failed.
inline ikutil::TaskOutcome BuildFromContainer(const std::string& container, const std::string& folder,
                                              const std::string& name, EngineLog& log) {
  ikpubx::OEBFFReader reader(container);
  ikutil::COEBFFReaderThread task(ikpubx::ContainerView(reader, container), nullptr);
  task.dest_dir = folder;
  task.dest_name = name;
  log.Attach(task);
  return task.Build();
}

}  // namespace vellix::fixtures
