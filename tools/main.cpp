// voxlum: makes, inspects, converts, compares and renders the ".vol" volumes the Voxlum node
// reads.
#include <exception>

#include "Commands.h"
#include "ExitCodes.h"
#include "FormatError.h"
#include "FrameRun.h"

int main(int argc, char** argv) {
    CLI::App app{"Make, inspect, convert, compare and render the .vol volumes of the Voxlum node.",
                 "voxlum"};
    app.require_subcommand(1);
    // The options below are the same on every command, given before or after its name.
    app.fallthrough();
    app.set_version_flag("--version", std::string("voxlum ") + VOXLUM_VERSION,
                         "Print the version and exit");
    Verbosity verbosity;
    CLI::Option* quiet = app.add_flag("-q,--quiet", verbosity.quiet,
                                      "Print nothing but errors and what --json asks for");
    app.add_flag("-v,--verbose", verbosity.verbose, "Also say what each step read and wrote")
        ->excludes(quiet);
    int threads = 0;
    app.add_option("--threads", threads,
                   "Threads to work with, for the frames of a sequence side by side and the rows "
                   "of a picture (default: every core)")
        ->check(CLI::PositiveNumber);
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return "voxlum: error: " + std::string(error.what()) + "\n";
    });

    CommandAction action;
    addMakeCommand(app, action);
    addInfoCommand(app, action);
    addConvertCommand(app, action);
    addBoundsCommand(app, action);
    addCompareCommand(app, action);
    addRenderCommand(app, action, VOXLUM_PLUGIN_PATH);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
    }
    try {
        return runWithThreads(threads, [&] { return action(verbosity); });
    } catch (const OptionError& error) {
        printError(error.what());
        return kExitUsage;
    } catch (const std::exception& error) {
        printError(error.what());
        return kExitFailure;
    }
}
