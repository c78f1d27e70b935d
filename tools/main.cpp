// voxlum: makes, inspects, converts and renders the ".vol" volumes the Voxlum node reads.
#include <exception>
#include <iostream>

#include "Commands.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Make, inspect, convert and render the .vol volumes of the Voxlum node.",
                 "voxlum"};
    app.require_subcommand(1);
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return "voxlum: error: " + std::string(error.what()) + "\n";
    });

    CommandAction action;
    addMakeCommand(app, action);
    addInfoCommand(app, action);
    addConvertCommand(app, action);
    addRenderCommand(app, action, VOXLUM_PLUGIN_PATH);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : kUsageError;
    }
    try {
        return action();
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << "voxlum: error: " << error.what() << '\n';
        return kFailure;
    }
}
