// vellix: the suite's command-line client. Every command is a thin call
// into the library; an automation error prints "vellix: <description>:
// <detail> (<number>)" (no ": <detail>" without one), or only the detail
// where the description tells nothing of the cause (PlainMessage), and
// exits 1, as does a failed write to standard output; a usage error exits 2.
#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>

#include "commands.h"
#include "output.h"
#include "vellix/error.h"
#include "version.h"

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"Vellix Publisher command-line tool"};
  app.set_version_flag("--version", VELLIX_VERSION);
  app.require_subcommand(1);
  int exit_code = vellix::cli::kExitOk;
  vellix::cli::AddBookCommands(app, exit_code);
  vellix::cli::AddShelfCommands(app, exit_code);
  vellix::cli::AddOebCommands(app, exit_code);
  vellix::cli::AddToolkitCommands(app, exit_code);
  vellix::cli::AddViewCommands(app, exit_code);
  vellix::cli::AddServeCommands(app, exit_code);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return vellix::cli::kExitUsage;
  } catch (const vellix::formats::AutomationError& e) {
    std::cerr << "vellix: " << vellix::formats::PlainMessage(e) << "\n";
    return vellix::cli::kExitError;
  } catch (const std::exception& e) {
    std::cerr << "vellix: " << e.what() << "\n";
    return vellix::cli::kExitError;
  }
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  vellix::cli::CheckStandardOutput();
  return vellix::cli::FinishStandardOutput(Run(argc, argv));
}
