#include "Resample.h"

#include <algorithm>
#include <cmath>

#include "VolumeWriter.h"

Lattice::Lattice(std::array<int, 3> latticeSize, int channelCount)
    : size(latticeSize),
      channels(channelCount),
      values(voxelCount() * static_cast<std::size_t>(channelCount), 0.0f) {}

namespace {

struct Tap {
    int index;
    float weight;
};

// For every output row of an axis, the input rows it is made of.
using AxisTaps = std::vector<std::vector<Tap>>;

// The filter of `span` of an axis of `inputLength` voxels resampled to `outputLength`.
AxisTaps axisTaps(int inputLength, const AxisSpan& span, int outputLength) {
    const double scale = span.length / outputLength;
    AxisTaps taps(static_cast<std::size_t>(outputLength));
    for (int k = 0; k < outputLength; ++k) {
        std::vector<Tap>& out = taps[static_cast<std::size_t>(k)];
        if (span.length <= outputLength) {
            const double position = span.start + (k + 0.5) * scale - 0.5;
            const double lower = std::floor(position);
            const double t = position - lower;
            const int i = static_cast<int>(lower);
            out.push_back({std::clamp(i, 0, inputLength - 1), float(1 - t)});
            if (t > 0) out.push_back({std::clamp(i + 1, 0, inputLength - 1), float(t)});
        } else {
            const double begin = span.start + k * scale, end = begin + scale;
            for (int i = static_cast<int>(begin); i < end && i < inputLength; ++i) {
                const double overlap = std::min(end, i + 1.0) - std::max(begin, double(i));
                if (overlap > 0) out.push_back({i, float(overlap / scale)});
            }
        }
    }
    return taps;
}

// Walks `lattice` as blocks along `axis`: `outer` blocks of `length` rows of `inner` floats,
// where a row holds every value at one coordinate of the axis.
struct AxisLayout {
    std::size_t outer, inner;
};

AxisLayout layoutAlong(const Lattice& lattice, int axis) {
    AxisLayout layout{1, std::size_t(lattice.channels)};
    for (int a = 0; a < axis; ++a) layout.inner *= std::size_t(lattice.size[a]);
    for (int a = axis + 1; a < 3; ++a) layout.outer *= std::size_t(lattice.size[a]);
    return layout;
}

// A lattice shaped like `in` but `taps.size()` voxels long along `axis`; output row k is the
// sum of the input rows named by taps[k], weighted.
Lattice combineRows(const Lattice& in, int axis, const AxisTaps& taps) {
    std::array<int, 3> size = in.size;
    size[axis] = static_cast<int>(taps.size());
    Lattice out(size, in.channels);
    const AxisLayout layout = layoutAlong(in, axis);
    const std::size_t inLength = std::size_t(in.size[axis]), outLength = taps.size();
    for (std::size_t o = 0; o < layout.outer; ++o)
        for (std::size_t k = 0; k < outLength; ++k) {
            float* target = out.values.data() + (o * outLength + k) * layout.inner;
            for (const Tap& tap : taps[k]) {
                const float* source =
                    in.values.data() + (o * inLength + std::size_t(tap.index)) * layout.inner;
                for (std::size_t i = 0; i < layout.inner; ++i) target[i] += tap.weight * source[i];
            }
        }
    return out;
}

// Taps that drop the last kTileBand of `length` rows, blending them into the first ones.
AxisTaps seamFoldTaps(int length) {
    const int period = length - kTileBand;
    AxisTaps taps(static_cast<std::size_t>(period));
    for (int k = 0; k < period; ++k) {
        if (k >= kTileBand) {
            taps[std::size_t(k)] = {{k, 1.0f}};
        } else {
            const float nearWeight = (static_cast<float>(k) + 0.5f) / kTileBand;
            taps[std::size_t(k)] = {{k, nearWeight}, {k + period, 1.0f - nearWeight}};
        }
    }
    return taps;
}

}  // namespace

LatticeSpans wholeSpans(const Lattice& lattice) {
    LatticeSpans spans;
    for (std::size_t axis = 0; axis < 3; ++axis) spans[axis] = {0.0, double(lattice.size[axis])};
    return spans;
}

Lattice resampleToVolume(Lattice source, const LatticeSpans& spans, bool tile) {
    for (int axis = 0; axis < 3; ++axis) {
        const AxisSpan& span = spans[std::size_t(axis)];
        const int length = source.size[axis];
        if (tile) {
            const Lattice widened =
                combineRows(source, axis, axisTaps(length, span, kVolumeGridSize + kTileBand));
            source = combineRows(widened, axis, seamFoldTaps(kVolumeGridSize + kTileBand));
        } else if (length != kVolumeGridSize || span.start != 0.0 ||
                   span.length != kVolumeGridSize) {
            source = combineRows(source, axis, axisTaps(length, span, kVolumeGridSize));
        }
    }
    return source;
}
