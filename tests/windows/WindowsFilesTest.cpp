// What only Windows has: the log in C:\temp, opened without sharing, device names that open a
// device from any folder and with any extension, and marks of threads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Platform.h"
#include "VolumeFiles.h"
#include "VoxelVolume.h"

namespace {

const std::filesystem::path kLogFolder = "C:\\temp";

// Makes C:\temp exist or not for one test, and puts back what was there: the folder is only
// ever created and removed here, never emptied of someone else's files.
class LogFolder {
  public:
    explicit LogFolder(bool present) : existed_(std::filesystem::exists(kLogFolder)) {
        if (present && !existed_) std::filesystem::create_directory(kLogFolder);
    }
    ~LogFolder() {
        std::error_code ignored;
        if (!existed_) std::filesystem::remove_all(kLogFolder, ignored);
    }
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;
    bool existed() const { return existed_; }

  private:
    bool existed_;
};

std::filesystem::path writeVolume(const testfiles::ScratchFolder& folder) {
    const auto path = folder.file("volume.vol");
    testfiles::writeBytes(path, testfiles::volumeBytes({}, testfiles::randomBody(4, 5)));
    return path;
}

TEST(WindowsLogStream, OneStoreAtATimeHoldsItAndTheOthersGoWithout) {
    const LogFolder folder(true);
    auto first = std::make_unique<VoxelVolume>();
    ASSERT_TRUE(first->hasLogStream());
    EXPECT_TRUE(std::filesystem::is_regular_file(kLogFolder / "volume-log.txt"));
    EXPECT_EQ(std::filesystem::file_size(kLogFolder / "volume-log.txt"), 0u);

    VoxelVolume second;
    EXPECT_FALSE(second.hasLogStream());
    const testfiles::ScratchFolder scratch;
    std::int32_t bytesRead = 0;
    EXPECT_EQ(second.loadVolumeFile(writeVolume(scratch).string().c_str(), bytesRead), 4);

    first.reset();
    const VoxelVolume third;
    EXPECT_TRUE(third.hasLogStream());
}

TEST(WindowsLogStream, WithoutTheFolderNoStoreHoldsItAndLoadingWorks) {
    const LogFolder folder(false);
    if (folder.existed()) GTEST_SKIP() << "C:\\temp exists on this machine";
    VoxelVolume store;
    EXPECT_FALSE(store.hasLogStream());
    EXPECT_FALSE(std::filesystem::exists(kLogFolder));
    const testfiles::ScratchFolder scratch;
    std::int32_t bytesRead = 0;
    EXPECT_EQ(store.loadVolumeFile(writeVolume(scratch).string().c_str(), bytesRead), 4);
    EXPECT_GT(store.sampleTrilinear(0.25f, 0.5f, 0.75f).a, 0.0f);
}

// A reserved device name opens the device whatever folder and extension come with it, and
// the loader must refuse it before reading: NUL would load as an empty file, CON would wait for
// console input. The NUL names are shown to open, so only the loader's check refuses them; CON
// opens only where a console is attached, which a test run need not have.
TEST(WindowsDeviceNames, AreRefusedAndKeepThePreviousVolume) {
    const testfiles::ScratchFolder scratch;
    VoxelVolume store;
    std::int32_t bytesRead = 0;
    ASSERT_EQ(store.loadVolumeFile(writeVolume(scratch).string().c_str(), bytesRead), 4);
    const VoxelSample before = store.sampleTrilinear(0.25f, 0.5f, 0.75f);
    struct Name {
        std::string path;
        bool opensHere;
    };
    for (const Name& name :
         {Name{"NUL.vol", true}, Name{"nul.vol", true},
          Name{(scratch.path() / "NUL.vol").string(), true},
          Name{(scratch.path() / "nul.texture.vol").string(), true}, Name{"CON.vol", false}}) {
        if (name.opensHere) {
            std::FILE* device = std::fopen(name.path.c_str(), "rb");
            ASSERT_NE(device, nullptr) << name.path << " does not open a device";
            std::fclose(device);
        }
        bytesRead = -12345;
        EXPECT_EQ(store.loadVolumeFile(name.path.c_str(), bytesRead), -1) << name.path;
        EXPECT_EQ(bytesRead, -12345) << name.path;
    }
    const VoxelSample after = store.sampleTrilinear(0.25f, 0.5f, 0.75f);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

// Where Windows cannot release a thread's reader record as the thread ends (XP), the record
// holds a mark of the thread, and a later thread takes the record over once the mark says so.
TEST(WindowsThreadMarks, TellWhetherTheirThreadHasEnded) {
    const std::uintptr_t own = platform::markCurrentThread();
    ASSERT_NE(own, 0u);
    std::uintptr_t other = 0;
    std::thread([&other] { other = platform::markCurrentThread(); }).join();
    ASSERT_NE(other, 0u);

    EXPECT_FALSE(platform::threadHasEnded(own));
    EXPECT_TRUE(platform::threadHasEnded(other));
    platform::forgetThread(own);
    platform::forgetThread(other);
}

}  // namespace
