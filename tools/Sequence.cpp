#include "Sequence.h"

#include <tbb/global_control.h>
#include <tbb/parallel_pipeline.h>

#include <exception>
#include <iostream>
#include <memory>
#include <optional>

#include "ExitCodes.h"
#include "ToolError.h"

namespace {

struct FrameOutcome {
    FrameReport report;
    std::optional<std::string> error;
};

}  // namespace

void printReport(const FrameReport& report) {
    std::cout << report.out;
    for (const std::string& warning : report.warnings) printWarning(warning);
}

std::vector<int> framesToRun(const NumberedName& input, const std::string& frameList) {
    std::vector<int> frames = frameList.empty() ? input.numbersOnDisk() : parseFrameList(frameList);
    if (frames.empty()) throw ToolError(input.text(), "no frame matches");
    return frames;
}

int runFrames(const std::vector<int>& frames, const std::string& doneWord,
              const Verbosity& verbosity, std::size_t framesInFlight,
              const std::function<void(int frame, FrameReport& report)>& work) {
    std::vector<int> failed;
    {
        ProgressBar bar("frames", !verbosity.quiet && frames.size() > 1);
        std::size_t next = 0;
        std::size_t printed = 0;
        // Frames are handed out and printed in order; only the work runs side by side, and no
        // more frames are held than may run at once.
        tbb::parallel_pipeline(
            std::max<std::size_t>(framesInFlight, 1),
            tbb::make_filter<void, std::size_t>(tbb::filter_mode::serial_in_order,
                                                [&](tbb::flow_control& control) {
                                                    if (next == frames.size()) control.stop();
                                                    return next++;
                                                }) &
                tbb::make_filter<std::size_t, std::shared_ptr<FrameOutcome>>(
                    tbb::filter_mode::parallel,
                    [&](std::size_t index) {
                        auto outcome = std::make_shared<FrameOutcome>();
                        outcome->report.index = index;
                        try {
                            work(frames[index], outcome->report);
                        } catch (const std::exception& error) {
                            outcome->error = error.what();
                        }
                        return outcome;
                    }) &
                tbb::make_filter<std::shared_ptr<FrameOutcome>, void>(
                    tbb::filter_mode::serial_in_order,
                    [&](const std::shared_ptr<FrameOutcome>& outcome) {
                        bar.erase();
                        printReport(outcome->report);
                        if (outcome->error) {
                            printError(*outcome->error);
                            failed.push_back(frames[outcome->report.index]);
                        }
                        ++printed;
                        bar.update(double(printed) / double(frames.size()),
                                   std::to_string(printed) + "/" + std::to_string(frames.size()));
                    }));
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

int runWithThreads(int threads, const std::function<int()>& body) {
    if (threads <= 0) return body();
    const tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                                    std::size_t(threads));
    return body();
}

std::size_t threadsAllowed() {
    return tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism);
}
