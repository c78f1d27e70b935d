// What a command prints while it runs over its files: each frame's report in frame order, a
// progress bar on a terminal, and for a sequence a summary and the frames that failed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "Console.h"
#include "FrameRun.h"

using FrameWork =
    std::function<void(const std::string& input, const std::string& output, FrameReport& report)>;

// Calls `work(input, output, report)` once with the names as given, or for each frame of a
// sequence with the frame number filled into both, at most `framesInFlight` at once, and prints
// what each has to say. A failed frame gets its error line and the others go on; the run ends
// with "N frames <doneWord>" (stdout, unless quiet) and an error line listing the failures.
// Returns kExitSuccess, kExitPartialFailure, or kExitFailure when every frame failed; a single
// file's failure is thrown after its report is printed.
int runOverFrames(const FrameRun& run, const std::string& doneWord, const Verbosity& verbosity,
                  std::size_t framesInFlight, const FrameWork& work);
