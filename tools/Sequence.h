// Commands over the frames of a sequence: each frame on its own, several side by side, a failed
// frame reported and passed over, and a summary at the end.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "Console.h"
#include "FramePattern.h"

// What one frame has to say. Frames run side by side, so nothing is printed until the frames
// before it have been: the output reads the same whatever the number of threads.
struct FrameReport {
    // The frame's place in the run, from 0.
    std::size_t index = 0;
    // For standard output; printed even when the frame then fails.
    std::string out;
    // Each becomes a "voxlum: warning:" line on standard error.
    std::vector<std::string> warnings;
};

// Prints what `report` holds.
void printReport(const FrameReport& report);

// The frames to run: those `frameList` names, or with an empty list every frame whose file
// `input` finds on disk. Throws ToolError when that is none.
std::vector<int> framesToRun(const NumberedName& input, const std::string& frameList);

// Calls `work` for each frame, with at most `framesInFlight` frames at once, and prints each
// frame's report in frame order. A frame whose work throws is reported on its own error line
// and the others go on. The run ends with a summary, "N frames <doneWord>" (stdout, unless
// quiet), and for failures an error line listing them. A progress bar shows on a terminal.
// Returns kExitSuccess, kExitPartialFailure, or kExitFailure when every frame failed.
int runFrames(const std::vector<int>& frames, const std::string& doneWord,
              const Verbosity& verbosity, std::size_t framesInFlight,
              const std::function<void(int frame, FrameReport& report)>& work);

// Runs `body` with at most `threads` threads working for it, in its own loops and the
// libraries'; 0 leaves the machine's cores. Returns what `body` returns.
int runWithThreads(int threads, const std::function<int()>& body);

// How many threads the running command may use.
std::size_t threadsAllowed();
