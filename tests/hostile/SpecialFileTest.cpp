// Names a scene may hold that are no ordinary volume file: folders, FIFOs, devices, /proc files,
// links, unreadable files, very long and non-ASCII names. Each must load or be refused with its
// code at once, and a refusal must leave the volume in use untouched, in the store and through
// the node.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <voxlumhost/Host.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <thread>

#include "HostileScene.h"
#include "PluginFixture.h"
#include "VoxelVolume.h"

namespace {

namespace fs = std::filesystem;
using hostile::Scene;

constexpr uid_t kNobody = 65534;

struct HostileInput {
    const char* label;
    // Makes what the name should name in the scene and returns the name.
    std::function<std::string(Scene&)> make;
    VolumeLoadResult expected;  // 4 where the name reaches rgba.vol
    // Permission bits do not stop root, so such a case loads as the user "nobody".
    bool unprivileged = false;
};

void PrintTo(const HostileInput& c, std::ostream* out) { *out << c.label; }

// Runs `load`, for an unprivileged case as "nobody" when running as root. False when the switch
// of user is refused.
bool runLoad(const HostileInput& c, const std::function<void()>& load) {
    const bool switchUser = c.unprivileged && ::geteuid() == 0;
    if (switchUser && ::seteuid(kNobody) != 0) return false;
    load();
    if (switchUser) {
        EXPECT_EQ(::seteuid(0), 0);
    }
    return true;
}

constexpr const char* kCannotSwitchUser =
    "running as root without the right to become 'nobody': permission bits cannot stop reads";

::testing::AssertionResult holds(const VoxelVolume& store, const reference::Volume& volume) {
    if (store.channelCount() != volume.channelCount)
        return ::testing::AssertionFailure() << "holds " << store.channelCount() << " channels";
    for (int i = 0; i < 128; i += 7) {
        if (!reference::sameBits(store.voxelAt(i, 127 - i, (i * 5) % 128),
                                 reference::voxelAt(volume, i, 127 - i, (i * 5) % 128)))
            return ::testing::AssertionFailure() << "voxel " << i << " differs";
    }
    return ::testing::AssertionSuccess();
}

std::string nestedName(int depth, std::size_t componentLength) {
    std::string name;
    for (int i = 0; i < depth; ++i) name += std::string(componentLength, 'd') + "/";
    return name;
}

const HostileInput kHostileInputs[] = {
    {"Folder", [](Scene& s) { return s.file("folder.vol").string(); }, -1},
    {"FifoWithoutWriter", [](Scene& s) { return s.fifo("lonely.vol", false); }, -1},
    {"FifoWithWriterAndBytes", [](Scene& s) { return s.fifo("busy.vol", true); }, -1},
    {"LinkToDevZero", [](Scene& s) { return s.link("zero.vol", "/dev/zero"); }, -1},
    {"LinkToDevUrandom", [](Scene& s) { return s.link("urandom.vol", "/dev/urandom"); }, -1},
    {"LinkToDevNull", [](Scene& s) { return s.link("null.vol", "/dev/null"); }, -1},
    // /proc files claim to be empty regular files, then deliver text or fail to read.
    {"LinkToProcStatus", [](Scene& s) { return s.link("status.vol", "/proc/self/status"); }, -4},
    {"LinkToProcMem", [](Scene& s) { return s.link("mem.vol", "/proc/self/mem"); }, -4},
    {"DeclaredBodyLargerThanFile", [](Scene& s) { return s.file("short.vol").string(); }, -2},
    {"LinkToGoodFile", [](Scene& s) { return s.link("link.vol", s.rgbaPath()); }, 4},
    {"DanglingLink", [](Scene& s) { return s.link("dangling.vol", s.file("gone.vol")); }, -1},
    {"LinkLoop",
     [](Scene& s) {
         s.link("loop-b.vol", s.file("loop-a.vol"));
         return s.link("loop-a.vol", s.file("loop-b.vol"));
     },
     -1},
    {"LinkToFolder", [](Scene& s) { return s.link("folder-link.vol", s.file("folder.vol")); }, -1},
    {"PathLongerThanPathMax",
     [](Scene& s) {
         const std::string path = (s.file(nestedName(PATH_MAX / 100 + 1, 99)) / "x.vol").string();
         EXPECT_GT(path.size(), std::size_t{PATH_MAX});
         return path;
     },
     -1},
    {"NameLongerThanNameMax",
     [](Scene& s) { return s.file(std::string(NAME_MAX, 'n') + ".vol").string(); }, -1},
    {"LongPathWithinPathMax",
     [](Scene& s) {
         const fs::path folder = s.file(nestedName((PATH_MAX - 200) / 200, 199));
         fs::create_directories(folder);
         return s.rgbaUnder(folder / "deep.vol");
     },
     4},
    {"Utf8Name",
     [](Scene& s) { return s.rgbaUnder(s.file("wolke-\xe2\x98\x81-\xc3\xa9t\xc3\xa9.vol")); }, 4},
    {"BytesThatAreNoUtf8", [](Scene& s) { return s.rgbaUnder(s.file("\xff\xfe\x80\xc3.vol")); }, 4},
    {"FormatCharactersAndNewline",
     [](Scene& s) { return s.rgbaUnder(s.file("%s%n%x\n\"quoted\".vol")); }, 4},
    {"FileUsedAsFolder", [](Scene& s) { return s.rgbaPath() + "/.vol"; }, -1},
    {"NoReadPermission",
     [](Scene& s) {
         const std::string path = s.rgbaUnder(s.file("locked.vol"));
         fs::permissions(path, fs::perms::none);
         return path;
     },
     -1, true},
};

std::string caseName(const testing::TestParamInfo<HostileInput>& info) { return info.param.label; }

class HostileFile : public testing::TestWithParam<HostileInput> {};

TEST_P(HostileFile, ReportsItsCodeAndKeepsThePreviousVolume) {
    const HostileInput& c = GetParam();
    Scene scene;
    VoxelVolume store;
    std::int32_t bytesRead = 0;
    ASSERT_EQ(store.loadVolumeFile(scene.rgbPath().c_str(), bytesRead), 3);

    const std::string path = c.make(scene);
    VolumeLoadResult result = 0;
    if (!runLoad(c, [&] { result = store.loadVolumeFile(path.c_str(), bytesRead); }))
        GTEST_SKIP() << kCannotSwitchUser;
    EXPECT_EQ(result, c.expected);
    EXPECT_TRUE(holds(store, c.expected >= 0 ? hostile::rgbaVolume() : hostile::rgbVolume()));
}

INSTANTIATE_TEST_SUITE_P(EveryInput, HostileFile, testing::ValuesIn(kHostileInputs), caseName);

class HostileName : public PluginTest, public testing::WithParamInterface<HostileInput> {};

// The node shows the loading line and one outcome line, and its outputs come from the volume
// that must be in use: the new one after a load, the previous one after a refusal.
TEST_P(HostileName, ShowsTheLoadingLineAndOneOutcomeLine) {
    const HostileInput& c = GetParam();
    Scene scene;
    mayahost::Node* node = createVoxlum();
    ASSERT_TRUE(mayahost::setString(node, "fileTextureName", scene.rgbPath()).ok);
    const float point[3] = {0.3127f, 0.7213f, 0.5419f};
    ASSERT_TRUE(mayahost::setFloat3(node, "pointWorld", point[0], point[1], point[2]).ok);
    ASSERT_TRUE(reference::sameBits(
        hostile::outputsOf(node),
        reference::sampleTrilinear(hostile::rgbVolume(), point[0], point[1], point[2])));

    const std::string name = c.make(scene);
    mayahost::clearMessages();
    if (!runLoad(c, [&] { mayahost::setString(node, "fileTextureName", name); }))
        GTEST_SKIP() << kCannotSwitchUser;

    const auto lines = mayahost::messages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].kind, mayahost::MessageKind::Info);
    EXPECT_EQ(lines[0].text, "Loading texture volume file \"" + name + "\"...");
    EXPECT_EQ(lines[1].kind,
              c.expected >= 0 ? mayahost::MessageKind::Info : mayahost::MessageKind::Error)
        << lines[1].text;
    const reference::Volume& inUse = c.expected >= 0 ? hostile::rgbaVolume() : hostile::rgbVolume();
    EXPECT_TRUE(reference::sameBits(
        hostile::outputsOf(node), reference::sampleTrilinear(inUse, point[0], point[1], point[2])));
}

INSTANTIATE_TEST_SUITE_P(EveryInput, HostileName, testing::ValuesIn(kHostileInputs), caseName);

TEST(SpecialFiles, DevicesNamedDirectlyAreRefused) {
    Scene scene;
    VoxelVolume store;
    std::int32_t bytesRead = 0;
    ASSERT_EQ(store.loadVolumeFile(scene.rgbPath().c_str(), bytesRead), 3);
    for (const char* device : {"/dev/zero", "/dev/urandom", "/dev/null"}) {
        EXPECT_EQ(store.loadVolumeFile(device, bytesRead), -1) << device;
        EXPECT_TRUE(holds(store, hostile::rgbVolume())) << device;
    }
}

// Another thread keeps cutting the file and writing the rest back, so loads meet it shorter
// than its header, shorter than its body, and shrinking between the size check and the read.
// Whatever a load meets, it either installs the whole volume or changes nothing.
TEST(SpecialFiles, FileCutWhileLoadingNeverInstallsAPartOfIt) {
    Scene scene;
    const auto bytes = testfiles::volumeBytes({}, hostile::rgbaVolume().body);
    const std::string path = scene.file("shrinking.vol").string();
    testfiles::writeBytes(path, bytes);
    const std::string next = scene.file("next.vol").string();

    // Each round puts a complete file in place atomically, then cuts that same file short while
    // loads may be reading it. Cutting only removes bytes, so a load sees a prefix of the right
    // bytes, never other ones (a file rewritten in place can show a reader anything).
    std::atomic<bool> loading{true};
    std::thread cutter([&] {
        const std::size_t cuts[] = {0, 2000, 4096 + 1000, bytes.size() / 2, bytes.size() - 1};
        for (std::size_t i = 0; loading.load(); ++i) {
            testfiles::writeBytes(next, bytes);
            if (std::rename(next.c_str(), path.c_str()) != 0) break;
            const int descriptor = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (descriptor < 0) break;
            // Whole for a moment, so some loads find it complete.
            std::this_thread::sleep_for(std::chrono::milliseconds(i % 2 == 0 ? 20 : 1));
            const int cut = ::ftruncate(descriptor, static_cast<off_t>(cuts[i % std::size(cuts)]));
            ::close(descriptor);
            if (cut != 0) break;
        }
    });

    VoxelVolume store;
    std::int32_t bytesRead = 0;
    ASSERT_EQ(store.loadVolumeFile(scene.rgbPath().c_str(), bytesRead), 3);
    std::map<VolumeLoadResult, int> outcomes;
    bool installed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < deadline) {
        const VolumeLoadResult result = store.loadVolumeFile(path.c_str(), bytesRead);
        ++outcomes[result];
        EXPECT_TRUE(result == 4 || result == -2 || result == -4 || result == -5) << result;
        installed = installed || result == 4;
        ASSERT_TRUE(holds(store, installed ? hostile::rgbaVolume() : hostile::rgbVolume()));
    }
    loading = false;
    cutter.join();
    for (const auto& [code, count] : outcomes)
        std::cout << "code " << code << ": " << count << "\n";
}

}  // namespace
