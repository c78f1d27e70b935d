#include "FrameProgress.h"

#include <iostream>
#include <vector>

#include "ExitCodes.h"
#include "FormatError.h"

namespace {

void printReport(const FrameReport& report) {
    std::cout << report.out;
    for (const std::string& warning : report.warnings) printWarning(warning);
}

int runSequence(const FrameRun& run, const std::string& doneWord, const Verbosity& verbosity,
                std::size_t framesInFlight, const FrameWork& work) {
    const std::vector<int>& frames = run.frames;
    std::vector<int> failed;
    {
        ProgressBar bar("frames", !verbosity.quiet && frames.size() > 1);
        std::size_t printed = 0;
        forEachFrame(
            frames, framesInFlight,
            [&](int frame, FrameReport& report) {
                work(run.inputOf(frame), run.outputOf(frame), report);
            },
            [&](int frame, const FrameReport& report) {
                bar.erase();
                printReport(report);
                if (!report.error.empty()) {
                    printError(report.error);
                    failed.push_back(frame);
                }
                ++printed;
                bar.update(double(printed) / double(frames.size()),
                           std::to_string(printed) + "/" + std::to_string(frames.size()));
            });
    }
    const std::size_t done = frames.size() - failed.size();
    if (!verbosity.quiet) {
        std::cout << (failed.empty() ? "" : std::to_string(done) + " of ") << frames.size()
                  << (frames.size() == 1 ? " frame " : " frames ") << doneWord << '\n';
    }
    if (failed.empty()) return kExitSuccess;
    std::string list;
    for (int frame : failed) list += (list.empty() ? "" : ", ") + std::to_string(frame);
    printError(std::to_string(failed.size()) + " of " + std::to_string(frames.size()) +
               (frames.size() == 1 ? " frame" : " frames") + " failed: " + list);
    return done == 0 ? kExitFailure : kExitPartialFailure;
}

}  // namespace

int runOverFrames(const FrameRun& run, const std::string& doneWord, const Verbosity& verbosity,
                  std::size_t framesInFlight, const FrameWork& work) {
    if (run.sequence()) return runSequence(run, doneWord, verbosity, framesInFlight, work);
    FrameReport report;
    try {
        work(run.input, run.output, report);
    } catch (const FormatError&) {
        printReport(report);
        throw;
    }
    printReport(report);
    return kExitSuccess;
}
