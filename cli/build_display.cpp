#include "build_display.h"

#include <unistd.h>

#include <iostream>

#include "vellix/formats/ascii.h"

namespace vellix::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

const char* SeverityName(int16_t severity) {
  switch (severity) {
    case 0:
      return "information";
    case 1:
      return "warning";
    default:
      return "error";
  }
}

}  // namespace

std::string EventLine(const std::string& file, const std::string& message, int32_t line, int32_t column,
                      int16_t severity) {
  std::string text = vellix::formats::TrimSpaces(message);
  // A problem of a whole file, or of no file, has no place to name: "-1:-1" would read as one.
  std::string place = file;
  if (line > 0) place += ":" + std::to_string(line) + (column > 0 ? ":" + std::to_string(column) : "");
  return (place.empty() ? "" : place + ": ") + SeverityName(severity) + ": " + text;
}

ProgressBar::ProgressBar(std::string label) : terminal_(::isatty(STDOUT_FILENO)), label_(std::move(label)) {}

ProgressBar::~ProgressBar() { Clear(); }

void ProgressBar::SourceStart(const std::string& file, int32_t number, int32_t total) {
  file_ = file;
  number_ = number;
  total_ = total;
  Draw();
}

void ProgressBar::Progress(int64_t done, int64_t total) {
  if (total > 0) percent_ = static_cast<int>(done * 100 / total);
  Draw();
}

void ProgressBar::Draw() {
  if (!terminal_ || (percent_ == drawn_percent_ && number_ == drawn_number_ && drawn_)) return;
  drawn_percent_ = percent_;
  drawn_number_ = number_;
  std::string bar(static_cast<size_t>(percent_ / 4), '#');
  bar.resize(25, '.');
  std::cout << "\r\033[K" << label_ << " [" << bar << "] " << percent_ << "%";
  if (total_ > 0) std::cout << "  " << number_ << "/" << total_ << " " << file_;
  std::cout << std::flush;
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (drawn_) std::cout << "\r\033[K" << std::flush;
  drawn_ = false;
}

InterruptToAbort::InterruptToAbort() {
  g_interrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous_);
}

InterruptToAbort::~InterruptToAbort() { sigaction(SIGINT, &previous_, nullptr); }

bool InterruptToAbort::Interrupted() { return g_interrupted != 0; }

}  // namespace vellix::cli
