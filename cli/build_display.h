// How the tool shows a build while it runs: each problem on stderr as
// "FILE:LINE:COL: SEVERITY: MESSAGE", progress as a bar when standard
// output is a terminal, and Ctrl-C as a request to stop the build.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

namespace vellix::cli {

// One build event as a line for people (no line end), "FILE:LINE:COL:"
// with no line or column that is not known; the message loses
// the blanks the Builder's clean-up leaves around it.
std::string EventLine(const std::string& file, const std::string& message, int32_t line, int32_t column,
                      int16_t severity);

// A one-line bar on standard output, drawn only on a terminal and only
// when what it shows has changed. Cleared before anything else is printed
// and when it goes away.
class ProgressBar {
 public:
  // `label` leads the bar: what is being done.
  explicit ProgressBar(std::string label = "Building");
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void SourceStart(const std::string& file, int32_t number, int32_t total);
  void Progress(int64_t done, int64_t total);
  void Draw();
  void Clear();
  bool terminal() const { return terminal_; }  // drawn at all

 private:
  bool terminal_;
  std::string label_;
  bool drawn_ = false;
  int percent_ = 0;
  int drawn_percent_ = -1;
  int32_t drawn_number_ = -1;
  std::string file_;
  int32_t number_ = 0, total_ = 0;
};

// While one lives, Ctrl-C sets Interrupted() instead of ending the tool,
// so that a build can be stopped without leaving a partial book.
class InterruptToAbort {
 public:
  InterruptToAbort();
  ~InterruptToAbort();
  InterruptToAbort(const InterruptToAbort&) = delete;
  InterruptToAbort& operator=(const InterruptToAbort&) = delete;
  static bool Interrupted();

 private:
  struct sigaction previous_ {};
};

}  // namespace vellix::cli
