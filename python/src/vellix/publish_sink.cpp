// A script's handlers for one publication, as the library's events.
#include <cstdint>
#include <string>
#include <utility>

#include "vellix/bindings.h"

namespace vellix::bindings {

using script::Text;

template <typename Invoke>
void PublishSink::Call(const char* name, const Invoke& invoke) {
  py::gil_scoped_acquire gil;
  script::CallHandler(target_, name, pending_, invoke);
}

PublishSink::PublishSink(py::object target) : target_(std::move(target)) {
  events_.source_start = [this](const std::string& file, int32_t number, int32_t total) {
    Call("OnSourceStart", [&](const py::object& h) { h(Text(file), number, total); });
  };
  events_.progress = [this](int64_t done, int64_t total) {
    Call("OnParserFeedback", [&](const py::object& h) { h(done, total); });
  };
  events_.error = [this](const std::string& file, const std::string& message, int32_t line, int32_t column,
                         int16_t severity) {
    Call("OnError", [&](const py::object& h) { h(Text(file), Text(message), line, column, severity); });
  };
  // Asked between the build's steps: Ctrl-C stops the publication
  // cleanly too, raised as KeyboardInterrupt once it has stopped.
  events_.keep_going = [this] {
    py::gil_scoped_acquire gil;
    if (!pending_.Has() && PyErr_CheckSignals() != 0) {
      py::error_already_set interrupted;
      pending_.Capture(interrupted);
    }
    return !pending_.Has();
  };
}

}  // namespace vellix::bindings
