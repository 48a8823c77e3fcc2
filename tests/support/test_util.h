// Small helpers shared by the test suites.
#pragma once

#include <string>
#include <vector>

#include "vellix/error.h"

namespace vellix::fixtures {

// The automation error number `f` throws, or 0 when it returns.
template <typename F>
int ErrorNumberOf(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

// What a program printed and returned.
struct ToolOutcome {
  int code = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs `program` with `args` (no shell), stdin from /dev/null. A non-empty
// `locale` replaces every locale variable of the environment.
ToolOutcome RunTool(const std::string& program, const std::vector<std::string>& args,
                    const std::string& locale = "");

}  // namespace vellix::fixtures
