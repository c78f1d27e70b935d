// The subcommands of the voxlum command line. Each add*Command registers its options on
// `app` and, when its subcommand is chosen, stores in `action` the work to run once parsing
// has succeeded. The work returns the exit status and reports failures as ToolError.
#pragma once

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

using CommandAction = std::function<int()>;

void addMakeCommand(CLI::App& app, CommandAction& action);
void addInfoCommand(CLI::App& app, CommandAction& action);
void addConvertCommand(CLI::App& app, CommandAction& action);
// `defaultPlugin` is the Voxlum module to render through unless --plugin names another.
void addRenderCommand(CLI::App& app, CommandAction& action, const std::string& defaultPlugin);
