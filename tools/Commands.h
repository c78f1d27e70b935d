// The subcommands of the voxlum command line. Each add*Command registers its options on
// `app` and, when its subcommand is chosen, stores in `action` the work to run once parsing
// has succeeded. The work returns the exit status (ExitCodes.h) and reports failures as
// FormatError, or as OptionError where the options do not fit together.
#pragma once

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "Console.h"

using CommandAction = std::function<int(const Verbosity&)>;

void addMakeCommand(CLI::App& app, CommandAction& action);
void addInfoCommand(CLI::App& app, CommandAction& action);
void addConvertCommand(CLI::App& app, CommandAction& action);
void addBoundsCommand(CLI::App& app, CommandAction& action);
void addCompareCommand(CLI::App& app, CommandAction& action);
// `defaultPlugin` is the Voxlum module to render through unless --plugin names another.
void addRenderCommand(CLI::App& app, CommandAction& action, const std::string& defaultPlugin);
