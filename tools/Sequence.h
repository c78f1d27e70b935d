// Commands over the frames of a sequence: each frame on its own, a failed frame reported and
// passed over, and a summary at the end.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Console.h"
#include "FramePattern.h"

// The frames to run: those `frameList` names, or with an empty list every frame whose file
// `input` finds on disk. Throws ToolError when that is none.
std::vector<int> framesToRun(const NumberedName& input, const std::string& frameList);

// Calls `work` for each frame in turn; `work` reports its result itself. A frame whose work
// throws is reported on its own error line and the others go on. The run ends with a summary,
// "N frames <doneWord>" (stdout, unless quiet), and for failures an error line listing them.
// A progress bar shows on a terminal. Returns kExitSuccess, kExitPartialFailure, or
// kExitFailure when every frame failed.
int runFrames(const std::vector<int>& frames, const std::string& doneWord,
              const Verbosity& verbosity, const std::function<void(int frame)>& work);
