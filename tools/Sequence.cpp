#include "Sequence.h"

#include <exception>
#include <iostream>

#include "ExitCodes.h"
#include "ToolError.h"

std::vector<int> framesToRun(const NumberedName& input, const std::string& frameList) {
    std::vector<int> frames = frameList.empty() ? input.numbersOnDisk() : parseFrameList(frameList);
    if (frames.empty()) throw ToolError(input.text(), "no frame matches");
    return frames;
}

int runFrames(const std::vector<int>& frames, const std::string& doneWord,
              const Verbosity& verbosity, const std::function<void(int frame)>& work) {
    std::vector<int> failed;
    {
        ProgressBar bar("frames", !verbosity.quiet && frames.size() > 1);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            try {
                work(frames[i]);
            } catch (const std::exception& error) {
                bar.erase();
                printError(error.what());
                failed.push_back(frames[i]);
            }
            bar.update(double(i + 1) / double(frames.size()),
                       std::to_string(i + 1) + "/" + std::to_string(frames.size()));
        }
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
