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

// Prints the resident memory that nodes add when each loads the same 8 MiB volume; the only
// check is that no node holds more than two copies of it.
TEST_F(NodeResources, MemoryHeldByNodesSharingOneVolumeFile) {
    constexpr long kVolumeKiB = 128 * 128 * 128 * 4 / 1024;
    const long baseline = residentKiB();
    ASSERT_GT(baseline, 0);
    for (int count : {1, 10, 50}) {
        while (static_cast<int>(nodes_.size()) < count) {
            mayahost::Node* node = createVoxlum();
            ASSERT_TRUE(mayahost::setString(node, "fileTextureName", scene_.rgbaPath()).ok);
            mayahost::clearMessages();
        }
        const long added = residentKiB() - baseline;
        std::cout << count << " nodes: " << added / 1024 << " MiB more resident, "
                  << added / count / 1024.0 << " MiB a node\n";
        RecordProperty("resident_kib_added_by_" + std::to_string(count) + "_nodes",
                       std::to_string(added));
        EXPECT_LE(added, count * 2 * kVolumeKiB);
    }
}

}  // namespace
