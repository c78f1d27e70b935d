// What nodes hold: descriptors and heap must come back when nodes go away and stay flat however
// often one node reloads. LeakSanitizer finds lost blocks in the sanitizer build; these tests
// count what it cannot see (descriptors) and, in the plain build, the heap in use.
#include <gtest/gtest.h>
#include <malloc.h>
#include <voxlumhost/Host.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "HostileScene.h"
#include "PluginFixture.h"

namespace {

long openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
}

// Bytes the C library's allocator has handed out. Sanitizer builds allocate elsewhere, so there
// it stays flat and LeakSanitizer does the checking.
long long heapInUse() {
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string field; status >> field;) {
        long kib = 0;
        if (field == "VmRSS:" && status >> kib) return kib;
    }
    return -1;
}

class NodeResources : public PluginTest {
  protected:
    // For round i: every `goodEvery`-th round rgb.vol or rgba.vol in turn, otherwise one of the
    // refused files.
    std::string fileForRound(std::size_t i, std::size_t goodEvery) const {
        if (i % goodEvery != 0) return refused_[i % refused_.size()];
        return i / goodEvery % 2 == 0 ? scene_.rgbPath() : scene_.rgbaPath();
    }

    hostile::Scene scene_;
    const std::vector<std::string> refused_ = scene_.refusedPaths();
};

TEST_F(NodeResources, TwoHundredNodesGiveBackEveryDescriptor) {
    const long before = openDescriptors();
    for (std::size_t i = 0; i < 200; ++i) {
        mayahost::Node* node = nullptr;
        ASSERT_TRUE(mayahost::createNode("Voxlum", node).ok);
        mayahost::setString(node, "fileTextureName", fileForRound(i, 4));
        hostile::outputsOf(node);
        ASSERT_TRUE(mayahost::deleteNode(node).ok);
        mayahost::clearMessages();
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(NodeResources, TwoThousandLoadsIntoOneNodeHoldOneVolume) {
    mayahost::Node* node = createVoxlum();
    ASSERT_TRUE(mayahost::setString(node, "fileTextureName", scene_.rgbPath()).ok);
    hostile::outputsOf(node);
    mayahost::clearMessages();
    const long descriptorsBefore = openDescriptors();
    const long long heapBefore = heapInUse();

    for (std::size_t i = 1; i <= 2000; ++i) {
        mayahost::setString(node, "fileTextureName", fileForRound(i, 20));
        mayahost::clearMessages();
        if (i % 100 == 0) hostile::outputsOf(node);
    }
    // End on the volume it started with.
    ASSERT_TRUE(mayahost::setString(node, "fileTextureName", scene_.rgbPath()).ok);
    mayahost::clearMessages();

    EXPECT_EQ(openDescriptors(), descriptorsBefore);
    // The process keeps one retired block for the next load, so the heap may hold one more
    // volume than before, of the largest size loaded here, and nothing else.
    constexpr long long kRgbaBlockBytes = 128LL * 128 * 128 * 4 + 1;
    EXPECT_LT(heapInUse() - heapBefore, kRgbaBlockBytes + 64 * 1024);
}

// AddressSanitizer keeps freed memory in quarantine, every load's read buffers among it, so
// resident memory cannot tell what a scene holds in such a build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentMemoryTellsWhatIsHeld = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentMemoryTellsWhatIsHeld = false;
#else
constexpr bool kResidentMemoryTellsWhatIsHeld = true;
#endif
#else
constexpr bool kResidentMemoryTellsWhatIsHeld = true;
#endif

// A scene of a thousand nodes on one 8 MiB volume, then half of them on a second one: nodes
// whose files hold the same voxels share one copy, so the scene holds about one volume per
// distinct file, and every node still samples its own file. Prints what it holds.
TEST_F(NodeResources, ThousandNodesHoldOneCopyOfEachDistinctVolume) {
    constexpr long kVolumeKiB = 128 * 128 * 128 * 4 / 1024;
    // What a node costs besides its volume: the node, its values and its store.
    constexpr long kNodeAllowanceKiB = 8;
    constexpr int kNodes = 1000;
    const reference::Volume other{testfiles::randomBody(4, 303), 4};
    const std::string otherPath = scene_.file("other.vol").string();
    testfiles::writeBytes(otherPath, testfiles::volumeBytes({}, other.body));
    const float point[3] = {0.3127f, 0.7213f, 0.5419f};
    const VoxelSample rgbaSample =
        reference::sampleTrilinear(hostile::rgbaVolume(), point[0], point[1], point[2]);
    const VoxelSample otherSample = reference::sampleTrilinear(other, point[0], point[1], point[2]);
    const long baseline = residentKiB();
    ASSERT_GT(baseline, 0);

    for (int i = 0; i < kNodes; ++i) {
        mayahost::Node* node = createVoxlum();
        ASSERT_TRUE(mayahost::setString(node, "fileTextureName", scene_.rgbaPath()).ok);
        ASSERT_TRUE(mayahost::setFloat3(node, "pointWorld", point[0], point[1], point[2]).ok);
        mayahost::clearMessages();
    }
    const long oneFile = residentKiB() - baseline;
    for (int i = 0; i < kNodes; i += 2) {
        ASSERT_TRUE(
            mayahost::setString(nodes_[static_cast<std::size_t>(i)], "fileTextureName", otherPath)
                .ok);
        mayahost::clearMessages();
    }
    const long twoFiles = residentKiB() - baseline;
    std::cout << kNodes << " nodes on one file: " << static_cast<double>(oneFile) / 1024.0
              << " MiB more resident; "
              << "half on a second file: " << static_cast<double>(twoFiles) / 1024.0 << " MiB\n";
    RecordProperty("resident_kib_added_one_file", std::to_string(oneFile));
    RecordProperty("resident_kib_added_two_files", std::to_string(twoFiles));

    // A volume, the spare block one load may leave behind, and the nodes themselves.
    if (kResidentMemoryTellsWhatIsHeld) {
        EXPECT_LT(oneFile, 2 * kVolumeKiB + kNodes * kNodeAllowanceKiB);
        EXPECT_LT(twoFiles, 3 * kVolumeKiB + kNodes * kNodeAllowanceKiB);
    }
    int wrong = 0;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        const VoxelSample& expected = i % 2 == 0 ? otherSample : rgbaSample;
        if (!reference::sameBits(hostile::outputsOf(nodes_[i]), expected)) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
