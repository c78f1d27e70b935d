// The files a command runs over: one input, or each frame of a numbered sequence, worked on side
// by side with what each frame has to say delivered in frame order.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FramePattern.h"

// How a command's file names make a sequence.
enum class SequenceRule {
    kInputField,  // a frame field in the input makes one, and the output then needs one too
    kBothFields,  // only fields in both do: a field in one alone is a slice pattern
};

// The names as given, or each frame of a sequence.
struct FrameRun {
    std::string input;
    std::string output;
    std::optional<NumberedName> inputFrames;
    std::optional<NumberedName> outputFrames;
    std::vector<int> frames;

    bool sequence() const { return inputFrames.has_value(); }
    std::string inputOf(int frame) const { return inputFrames->inputNameOf(frame); }
    std::string outputOf(int frame) const {
        return outputFrames ? outputFrames->nameOf(frame) : std::string();
    }
    // Every input the run reads, in order.
    std::vector<std::string> inputPaths() const;
};

// Whether `input` and `output` make a sequence under `rule`, and its frames: `frames`, or every
// frame on disk when nullopt. Throws OptionError ("--frames") when frames are given to names that
// make no sequence, and FormatError when a sequence has no frame or its output has no field.
FrameRun planFrameRun(const std::string& input, const std::string& output,
                      const std::optional<std::vector<int>>& frames, SequenceRule rule);

// What one frame has to say. Frames run side by side, so nothing is said until the frames before
// it have been: the output reads the same whatever the number of threads.
struct FrameReport {
    // The frame's place in the run, from 0.
    std::size_t index = 0;
    // For standard output, or the caller's log; kept even when the frame then fails.
    std::string out;
    // Something the user should know of, done anyway.
    std::vector<std::string> warnings;
    // Why the frame failed; empty when it succeeded.
    std::string error;
};

// Calls `work` for each frame, with at most `framesInFlight` frames at once, and `deliver` with
// each frame's report in frame order, on one thread at a time. A frame whose work throws is
// reported with its error and the others go on.
void forEachFrame(const std::vector<int>& frames, std::size_t framesInFlight,
                  const std::function<void(int frame, FrameReport& report)>& work,
                  const std::function<void(int frame, const FrameReport& report)>& deliver);

// Runs `body` with at most `threads` threads working for it, in its own loops and the
// libraries'; 0 leaves the machine's cores. Returns what `body` returns.
int runWithThreads(int threads, const std::function<int()>& body);

// How many threads the running code may use.
std::size_t threadsAllowed();
