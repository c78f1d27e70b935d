// Fuzzes the ".vol" loader as users run it: the input becomes a real file that
// VoxelVolume::loadVolumeFile opens and reads, either into an empty store or into one that
// already holds a known volume, and the store is then sampled at coordinates the input picks.
// Every sample is compared bit for bit with the reference sampler over the volume the store
// must hold afterwards: the file's body after a successful load, the previous volume after a
// failed one. After a successful load a second store loads the file too and must share the
// first one's block.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "ReferenceSampler.h"
#include "SharedBlocks.h"
#include "VolumeFiles.h"
#include "VolumeFormat.h"
#include "VoxelVolume.h"

namespace {

namespace layout = fuzzinput::loader;

constexpr std::int64_t kLatticeRecords = std::int64_t{128} * 128 * 128;
constexpr std::int32_t kUntouched = INT32_MIN;

struct Fixture {
    testfiles::ScratchFolder folder;
    const std::string knownPath = folder.file("known.vol").string();
    const std::string inputPath = folder.file("input.vol").string();
    const reference::Volume known{testfiles::randomBody(4, 2024), 4};
    VoxelVolume loadedStore;
    reference::Volume loadedBody;  // what a successful load must have installed

    Fixture() {
        testfiles::writeBytes(knownPath, testfiles::volumeBytes({}, known.body));
        reinstallKnown();
    }
    void reinstallKnown() {
        std::int32_t bytesRead = 0;
        FUZZ_CHECK(loadedStore.loadVolumeFile(knownPath.c_str(), bytesRead) == known.channelCount);
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

std::int32_t declaredChannels(const std::vector<std::uint8_t>& content) {
    return content.size() >= volformat::kChannelCountOffset + 4
               ? volformat::readInt32(content.data(), volformat::kChannelCountOffset)
               : 0;
}

// Writes the file the loader will read and returns its length.
std::int64_t writeInputFile(const std::string& path, const std::vector<std::uint8_t>& content,
                            std::uint8_t flags) {
    testfiles::writeBytes(path, content);
    std::int64_t length = static_cast<std::int64_t>(content.size());
    const std::int32_t channels = declaredChannels(content);
    if ((flags & layout::kExtendToDeclaredBody) != 0 && channels >= volformat::kMinChannels &&
        channels <= layout::kMaxExtendedChannels) {
        const std::int64_t declared = static_cast<std::int64_t>(volformat::kHeaderSize) +
                                      kLatticeRecords * channels -
                                      ((flags & layout::kOneByteShort) != 0 ? 1 : 0);
        if (declared > length) {
            std::filesystem::resize_file(path, static_cast<std::uintmax_t>(declared));
            length = declared;
        }
    }
    return length;
}

// Fills `volume` with the body the file holds: its bytes after the header, then the zeros of
// any extension. The buffer is reused from input to input, sparing the page faults of a fresh one.
void readBodyOf(const std::vector<std::uint8_t>& content, std::int32_t channels,
                reference::Volume& volume) {
    volume.channelCount = channels;
    volume.body.resize(static_cast<std::size_t>(kLatticeRecords * channels));
    std::size_t copied = 0;
    if (content.size() > volformat::kHeaderSize) {
        copied = std::min(content.size() - volformat::kHeaderSize, volume.body.size());
        std::memcpy(volume.body.data(), content.data() + volformat::kHeaderSize, copied);
    }
    std::fill(volume.body.begin() + static_cast<std::ptrdiff_t>(copied), volume.body.end(), 0);
}

// The result code and bytesRead must agree with what the file holds.
void checkOutcome(VolumeLoadResult result, std::int32_t bytesRead,
                  const std::vector<std::uint8_t>& content, std::int64_t fileLength) {
    using namespace volformat;
    const bool magicMatches =
        content.size() >= sizeof kMagic && std::memcmp(content.data(), kMagic, sizeof kMagic) == 0;
    const std::int64_t bodyAvailable =
        std::max<std::int64_t>(0, fileLength - static_cast<std::int64_t>(kHeaderSize));
    const bool fullHeader = fileLength >= static_cast<std::int64_t>(kHeaderSize);
    switch (result) {
        case kBadMagic:
            FUZZ_CHECK(!magicMatches && bytesRead == kUntouched);
            break;
        case kHeaderIncomplete:
            FUZZ_CHECK(magicMatches && !fullHeader && bytesRead == fileLength);
            break;
        case kBadVersion:
        case kBadEncoding:
        case kUnsupportedLayout:
            FUZZ_CHECK(magicMatches && fullHeader && bytesRead == kUntouched);
            break;
        case kBodyIncomplete:
            FUZZ_CHECK(magicMatches && fullHeader && bytesRead == bodyAvailable);
            FUZZ_CHECK(bytesRead < kLatticeRecords * declaredChannels(content));
            break;
        default:
            // Opening a regular file we just wrote cannot fail, nor can allocating a body the
            // file already holds: every other code is a fault.
            FUZZ_CHECK(result >= kMinChannels && result == declaredChannels(content));
            FUZZ_CHECK(magicMatches && bytesRead == kLatticeRecords * result);
            FUZZ_CHECK(bodyAvailable >= bytesRead);
            break;
    }
}

// Where the sampler's period-1 wrap puts a coordinate; NaN and infinities sample as 0.
float wrapped(float coordinate) {
    return std::isfinite(coordinate) ? coordinate - std::floor(coordinate) : 0.0f;
}

bool inUnitRange(float value) { return value >= 0.0f && value <= 1.0f; }

// `expected` is the volume the store must hold, null when it must hold none.
void checkSamples(const VoxelVolume& store, const reference::Volume* expected,
                  const std::vector<std::array<float, 3>>& points) {
    FUZZ_CHECK(store.hasVolume() == (expected != nullptr));
    FUZZ_CHECK(store.channelCount() == (expected ? expected->channelCount : 0));
    for (const auto& p : points) {
        const VoxelSample sample = store.sampleTrilinear(p[0], p[1], p[2]);
        FUZZ_CHECK(inUnitRange(sample.r) && inUnitRange(sample.g) && inUnitRange(sample.b) &&
                   inUnitRange(sample.a));
        const VoxelSample want = expected ? reference::sampleTrilinear(*expected, wrapped(p[0]),
                                                                       wrapped(p[1]), wrapped(p[2]))
                                          : VoxelSample{0, 0, 0, 0};
        FUZZ_CHECK(reference::sameBits(sample, want));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fixture& f = fixture();
    fuzzinput::ByteReader input(data, size);
    const auto flags = input.take<std::uint8_t>();
    // One fixed interior point, so even inputs with degenerate coordinates compare a blend.
    std::vector<std::array<float, 3>> points = {{0.3f, 0.6f, 0.9f}};
    for (int i = 0; i < layout::kPoints; ++i)
        points.push_back({input.take<float>(), input.take<float>(), input.take<float>()});
    const std::vector<std::uint8_t> content = input.rest();

    const std::int64_t fileLength = writeInputFile(f.inputPath, content, flags);
    const bool intoLoaded = (flags & layout::kIntoLoadedStore) != 0;
    std::optional<VoxelVolume> emptyStore;
    if (!intoLoaded) emptyStore.emplace();
    VoxelVolume& store = intoLoaded ? f.loadedStore : *emptyStore;

    std::int32_t bytesRead = kUntouched;
    const VolumeLoadResult result = store.loadVolumeFile(f.inputPath.c_str(), bytesRead);
    checkOutcome(result, bytesRead, content, fileLength);

    if (result >= 0) readBodyOf(content, result, f.loadedBody);
    const reference::Volume* expected =
        result >= 0 ? &f.loadedBody : (intoLoaded ? &f.known : nullptr);
    checkSamples(store, expected, points);
    if (result >= 0) {
        // A second store loading the same file shares the block the first one installed.
        const std::size_t blocksHeld = sharedblocks::usage().blocks;
        VoxelVolume sharing;
        std::int32_t sharingBytesRead = kUntouched;
        FUZZ_CHECK(sharing.loadVolumeFile(f.inputPath.c_str(), sharingBytesRead) == result);
        FUZZ_CHECK(sharingBytesRead == bytesRead && sharedblocks::usage().blocks == blocksHeld);
        checkSamples(sharing, expected, points);
    }
    if (intoLoaded && result >= 0) f.reinstallKnown();
    return 0;
}
