// A first pass over the frames of an OpenVDB sequence, for what every frame must share: one box
// of space, so that motion survives, and one mapping of values to bytes, so that frames stay
// comparable.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Convert.h"
#include "GridOptions.h"

struct CacheSurvey {
    // The active voxels of the mapped grids of every frame read, together.
    WorldBox box = WorldBox::nothing();
    // The options' ranges, the automatic ones now the lowest and highest values of the frames.
    ChannelRanges ranges{};
    std::size_t framesRead = 0;
};

// Checks options.grids against the first of `paths` that can be read (a OptionError when it does
// not fit), then, with `uniteBoxes`, unites the frames' active boxes and resolves any automatic
// range over every frame; frames run side by side. Frames that cannot be read are passed over:
// converting them says why.
CacheSurvey surveyVdbFrames(const std::vector<std::string>& paths, const ConvertOptions& options,
                            bool uniteBoxes);

// "r LO HI, g LO HI, b LO HI, a LO HI", each number in its shortest exact form.
std::string formatRanges(const ChannelRanges& ranges);
