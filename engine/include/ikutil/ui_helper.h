// How the engine shows a problem to the user.
//
// A project load reports each problem through the helper its parameters
// hold. The base helper shows nothing; CWinOEBPackageUIHelper hands the
// problem to DisplayError, which calls the display function the program
// installed (the desktop program shows a message box, the `vellix` tool
// prints to stderr). With no display function installed DisplayError
// writes to stderr.
#pragma once

#include <functional>
#include <string>

namespace ikutil {

// `message` is the problem; `detail` names the file (and place) it is in;
// `line` is its line, or -1; `show_now` is 1 when the caller asked for
// immediate feedback and 0 when the problem should be handled quietly.
// Returns what the display returned (0 when nothing was shown).
int DisplayError(const std::string& message, const std::string& detail, int line, int show_now);

using DisplayFunction =
    std::function<int(const std::string& message, const std::string& detail, int line, int show_now)>;
// Replaces the display function for the whole process; an empty function
// restores the default. Returns the one replaced.
DisplayFunction SetDisplayFunction(DisplayFunction display);

class COEBPackageUIHelper {
 public:
  virtual ~COEBPackageUIHelper() = default;
  // Asks whether to go on after a problem; the base answers 1 (go on).
  virtual int Confirm(const std::string& message, const std::string& detail, int line, int show_now);
  // Shows a problem; the base shows nothing and answers 0.
  virtual int Display(const std::string& message, const std::string& detail, int line, int show_now);
};

class CWinOEBPackageUIHelper : public COEBPackageUIHelper {
 public:
  int Display(const std::string& message, const std::string& detail, int line, int show_now) override;
};

}  // namespace ikutil
