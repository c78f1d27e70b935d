#include "FrameRun.h"

#include <tbb/global_control.h>
#include <tbb/parallel_pipeline.h>

#include <exception>
#include <memory>

#include "FormatError.h"

std::vector<std::string> FrameRun::inputPaths() const {
    if (!sequence()) return {input};
    std::vector<std::string> paths;
    for (int frame : frames) paths.push_back(inputOf(frame));
    return paths;
}

FrameRun planFrameRun(const std::string& input, const std::string& output,
                      const std::optional<std::vector<int>>& frames, SequenceRule rule) {
    FrameRun run{input, output, NumberedName::find(input), NumberedName::find(output), {}};
    const bool sequence =
        run.inputFrames && (rule == SequenceRule::kInputField || run.outputFrames.has_value());
    if (!sequence) {
        if (frames)
            throw OptionError("--frames", rule == SequenceRule::kInputField
                                              ? "the input names no frame field such as ####"
                                              : "the input and the output both need a frame "
                                                "field such as ####");
        run.inputFrames.reset();
        return run;
    }
    if (!output.empty() && !run.outputFrames)
        throw OptionError(output, "a sequence's output needs a frame field such as ####");
    run.frames = frames ? *frames : run.inputFrames->numbersOnDisk();
    if (run.frames.empty()) throw FormatError(input, "no frame matches");
    return run;
}

void forEachFrame(const std::vector<int>& frames, std::size_t framesInFlight,
                  const std::function<void(int frame, FrameReport& report)>& work,
                  const std::function<void(int frame, const FrameReport& report)>& deliver) {
    std::size_t next = 0;
    // Frames are handed out and delivered in order; only the work runs side by side, and no more
    // frames are held than may run at once.
    tbb::parallel_pipeline(
        std::max<std::size_t>(framesInFlight, 1),
        tbb::make_filter<void, std::size_t>(tbb::filter_mode::serial_in_order,
                                            [&](tbb::flow_control& control) {
                                                if (next == frames.size()) control.stop();
                                                return next++;
                                            }) &
            tbb::make_filter<std::size_t, std::shared_ptr<FrameReport>>(
                tbb::filter_mode::parallel,
                [&](std::size_t index) {
                    auto report = std::make_shared<FrameReport>();
                    report->index = index;
                    try {
                        work(frames[index], *report);
                    } catch (const std::exception& error) {
                        report->error = error.what();
                    }
                    return report;
                }) &
            tbb::make_filter<std::shared_ptr<FrameReport>, void>(
                tbb::filter_mode::serial_in_order, [&](const std::shared_ptr<FrameReport>& report) {
                    deliver(frames[report->index], *report);
                }));
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
