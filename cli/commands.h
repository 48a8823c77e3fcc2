// The command groups of the tool. Each Add* registers its subcommands; a
// subcommand's callback stores its exit code in `exit_code`.
#pragma once

#include <CLI/CLI.hpp>

namespace vellix::cli {

void AddBookCommands(CLI::App& app, int& exit_code);
void AddShelfCommands(CLI::App& app, int& exit_code);
void AddOebCommands(CLI::App& app, int& exit_code);
void AddToolkitCommands(CLI::App& app, int& exit_code);
void AddViewCommands(CLI::App& app, int& exit_code);
void AddServeCommands(CLI::App& app, int& exit_code);

}  // namespace vellix::cli
