#include "ikutil/ui_helper.h"

#include <cstdio>
#include <utility>

namespace ikutil {
namespace {

DisplayFunction& InstalledDisplay() {
  static DisplayFunction display;
  return display;
}

}  // namespace

int DisplayError(const std::string& message, const std::string& detail, int line, int show_now) {
  if (const DisplayFunction& display = InstalledDisplay()) return display(message, detail, line, show_now);
  if (!show_now) return 0;
  if (line >= 0) {
    std::fprintf(stderr, "%s:%d: %s\n", detail.c_str(), line, message.c_str());
  } else {
    std::fprintf(stderr, "%s: %s\n", detail.c_str(), message.c_str());
  }
  return 1;
}

DisplayFunction SetDisplayFunction(DisplayFunction display) {
  return std::exchange(InstalledDisplay(), std::move(display));
}

int COEBPackageUIHelper::Confirm(const std::string&, const std::string&, int, int) { return 1; }
int COEBPackageUIHelper::Display(const std::string&, const std::string&, int, int) { return 0; }

int CWinOEBPackageUIHelper::Display(const std::string& message, const std::string& detail, int line, int show_now) {
  return DisplayError(message, detail, line, show_now);
}

}  // namespace ikutil
