// Several threads read one node's outputs through the host while another keeps giving it new
// files, good and bad, and new points. Every value read must be exactly what one of the loaded
// volumes gives at one of the points: never a mixture, a half-loaded volume or garbage.
#include <gtest/gtest.h>
#include <voxlumhost/Host.h>

#include <atomic>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "HostileScene.h"
#include "PluginFixture.h"

namespace {

class HostConcurrency : public PluginTest {
  protected:
    hostile::Scene scene_;
};

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(HostConcurrency, ReadersSeeOnlyValuesOfLoadedVolumes) {
    // In [0, 1) with the identity placement, a point is its own texture coordinate.
    const float points[][3] = {
        {0.3127f, 0.7213f, 0.5419f}, {0.05f, 0.999f, 0.5f}, {0.875f, 0.125f, 0.0078125f}};
    std::vector<VoxelSample> allowed;
    for (const auto& p : points) {
        for (const reference::Volume* volume : {&hostile::rgbVolume(), &hostile::rgbaVolume()})
            allowed.push_back(reference::sampleTrilinear(*volume, p[0], p[1], p[2]));
    }
    const auto isAllowedColor = [&](const MFloatVector& c) {
        for (const VoxelSample& s : allowed)
            if (sameBits(c.x, s.r) && sameBits(c.y, s.g) && sameBits(c.z, s.b)) return true;
        return false;
    };
    const auto isAllowedAlpha = [&](float a) {
        for (const VoxelSample& s : allowed)
            if (sameBits(a, s.a)) return true;
        return false;
    };

    std::vector<std::string> files = scene_.refusedPaths();
    files.insert(files.begin() + 2, scene_.rgbPath());
    files.push_back(scene_.rgbaPath());
    mayahost::Node* node = createVoxlum();
    ASSERT_TRUE(mayahost::setString(node, "fileTextureName", scene_.rgbaPath()).ok);
    ASSERT_TRUE(
        mayahost::setFloat3(node, "pointWorld", points[0][0], points[0][1], points[0][2]).ok);
    mayahost::AttributeHandle color, alpha;
    ASSERT_TRUE(mayahost::findAttribute(node, "outColor", color).ok);
    ASSERT_TRUE(mayahost::findAttribute(node, "outAlpha", alpha).ok);

    std::atomic<bool> writing{true};
    std::atomic<long> reads{0};
    std::atomic<long> wrongValues{0};
    std::atomic<long> failedReads{0};
    constexpr long kReaders = 3;
    std::vector<std::thread> readers;
    for (long t = 0; t < kReaders; ++t) {
        readers.emplace_back([&] {
            while (writing.load()) {
                MFloatVector c;
                float a = -1;
                const bool ok =
                    mayahost::getFloat3(node, color, c).ok && mayahost::getFloat(node, alpha, a).ok;
                failedReads += ok ? 0 : 1;
                wrongValues += isAllowedColor(c) && isAllowedAlpha(a) ? 0 : 1;
                ++reads;
            }
        });
    }
    // Each round waits until a read that began after its changes has finished (beyond the reads
    // already under way), so that every file and point is read however threads are scheduled.
    for (std::size_t round = 0; round < 4 * files.size(); ++round) {
        mayahost::setString(node, "fileTextureName", files[round % files.size()]);
        const auto& p = points[round % std::size(points)];
        mayahost::setFloat3(node, "pointWorld", p[0], p[1], p[2]);
        const long readsBefore = reads.load();
        while (reads.load() <= readsBefore + kReaders) std::this_thread::yield();
    }
    writing = false;
    for (auto& reader : readers) reader.join();

    EXPECT_EQ(failedReads.load(), 0);
    EXPECT_EQ(wrongValues.load(), 0) << "of " << reads.load() << " reads";
}

}  // namespace
