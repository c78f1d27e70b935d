#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

#include "ReferenceSampler.h"
#include "VolumeFiles.h"
#include "VoxelVolume.h"

using testfiles::VolumeHeaderFields;

namespace {

constexpr std::int32_t kUntouched = -12345;
constexpr std::int32_t kRgbaBody = 128 * 128 * 128 * 4;

struct LoadCase {
    const char* name;
    // Writes the file (or whatever the path should name) and returns its path.
    std::function<std::filesystem::path(const testfiles::ScratchFolder&)> make;
    VolumeLoadResult expectedResult;
    std::int32_t expectedBytesRead;
};

std::filesystem::path writeFile(const testfiles::ScratchFolder& folder,
                                const std::vector<unsigned char>& bytes) {
    const auto path = folder.file("case.vol");
    testfiles::writeBytes(path, bytes);
    return path;
}

std::function<std::filesystem::path(const testfiles::ScratchFolder&)> fileOf(
    std::vector<unsigned char> bytes) {
    return [bytes](const testfiles::ScratchFolder& folder) { return writeFile(folder, bytes); };
}

// Volume-sized files are made when their case runs, not when the cases are listed: each case
// runs in a process of its own, which would otherwise make every one of them.
std::function<std::filesystem::path(const testfiles::ScratchFolder&)> fileMadeBy(
    std::vector<unsigned char> (*make)()) {
    return [make](const testfiles::ScratchFolder& folder) { return writeFile(folder, make()); };
}

std::vector<unsigned char> headerWith(void (*edit)(VolumeHeaderFields&)) {
    VolumeHeaderFields fields;
    edit(fields);
    return testfiles::headerBytes(fields);
}

std::vector<unsigned char> rgbaFileShortBy(std::size_t missing) {
    auto bytes = testfiles::volumeBytes({}, testfiles::randomBody(4, 7));
    bytes.resize(bytes.size() - missing);
    return bytes;
}

std::vector<unsigned char> prefixOf(const std::vector<unsigned char>& bytes, std::size_t length) {
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)};
}

// A file whose read would wait for a writer. Windows has no FIFOs; its console waits the same
// way for input.
std::filesystem::path fifoWithoutWriter(const testfiles::ScratchFolder& folder) {
#ifdef _WIN32
    static_cast<void>(folder);
    return "CON";
#else
    const auto path = folder.file("pipe.vol");
    ::mkfifo(path.string().c_str(), 0600);
    return path;
#endif
}

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class LoadOutcome : public testing::TestWithParam<LoadCase> {};

// Every failing load must leave the previously loaded volume in use, untouched.
TEST_P(LoadOutcome, ReturnsItsCodeAndKeepsThePreviousVolumeOnFailure) {
    const LoadCase& c = GetParam();
    testfiles::ScratchFolder folder;
    const reference::Volume previous{testfiles::randomBody(3, 99), 3};
    const auto previousPath = folder.file("previous.vol");
    testfiles::writeBytes(previousPath,
                          testfiles::volumeBytes({"VOLU", 4, 128, 3, 1}, previous.body));

    VoxelVolume store;
    std::int32_t bytesRead = 0;
    ASSERT_EQ(store.loadVolumeFile(previousPath.string().c_str(), bytesRead), 3);

    const std::filesystem::path path = c.make(folder);
    bytesRead = kUntouched;
    EXPECT_EQ(store.loadVolumeFile(path.string().c_str(), bytesRead), c.expectedResult);
    EXPECT_EQ(bytesRead, c.expectedBytesRead);
    if (c.expectedResult < 0) {
        EXPECT_EQ(store.channelCount(), 3);
        for (int i = 0; i < 128; i += 9) {
            EXPECT_TRUE(reference::sameBits(store.voxelAt(i, 127 - i, i / 2),
                                            reference::voxelAt(previous, i, 127 - i, i / 2)));
        }
    } else {
        EXPECT_EQ(store.channelCount(), c.expectedResult);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutcome, LoadOutcome,
    testing::Values(
        LoadCase{"MissingFile",
                 [](const testfiles::ScratchFolder& f) { return f.file("absent.vol"); }, -1,
                 kUntouched},
        LoadCase{"Directory", [](const testfiles::ScratchFolder& f) { return f.path(); }, -1,
                 kUntouched},
        LoadCase{"CharacterDevice",
                 [](const testfiles::ScratchFolder&) { return std::filesystem::path("/dev/zero"); },
                 -1, kUntouched},
        LoadCase{"FifoWithoutWriter", fifoWithoutWriter, -1, kUntouched},
        LoadCase{"WrongMagicFullHeader",
                 fileOf(headerWith([](VolumeHeaderFields& h) { h.magic = "VOLX"; })), -4,
                 kUntouched},
        LoadCase{"EmptyFile", fileOf({}), -4, kUntouched},
        LoadCase{"ThreeBytes", fileOf({'V', 'O', 'L'}), -4, kUntouched},
        LoadCase{"HundredByteHeader", fileOf(prefixOf(testfiles::headerBytes({}), 100)), -5, 100},
        LoadCase{"HeaderOneByteShort", fileOf(prefixOf(testfiles::headerBytes({}), 4095)), -5,
                 4095},
        LoadCase{"VersionWrongBeforeEncoding", fileOf(headerWith([](VolumeHeaderFields& h) {
                     h.version = 3;
                     h.encoding = 9;
                 })),
                 -6, kUntouched},
        LoadCase{"EncodingTwo", fileOf(headerWith([](VolumeHeaderFields& h) { h.encoding = 2; })),
                 -7, kUntouched},
        LoadCase{"EdgeLength64",
                 fileOf(headerWith([](VolumeHeaderFields& h) { h.edgeLength = 64; })), -8,
                 kUntouched},
        LoadCase{"NegativeEdgeLength",
                 fileOf(headerWith([](VolumeHeaderFields& h) { h.edgeLength = -128; })), -8,
                 kUntouched},
        LoadCase{"TwoChannels",
                 fileOf(headerWith([](VolumeHeaderFields& h) { h.channelCount = 2; })), -8,
                 kUntouched},
        LoadCase{"ZeroChannels",
                 fileOf(headerWith([](VolumeHeaderFields& h) { h.channelCount = 0; })), -8,
                 kUntouched},
        LoadCase{"BodyTooLargeToReport",
                 fileOf(headerWith([](VolumeHeaderFields& h) { h.channelCount = 1024; })), -8,
                 kUntouched},
        LoadCase{"HeaderOnlyDeclaringHugeBody",
                 fileOf(headerWith([](VolumeHeaderFields& h) { h.channelCount = 1000; })), -2, 0},
        LoadCase{"BodyOneByteShort", fileMadeBy([] { return rgbaFileShortBy(1); }), -2,
                 kRgbaBody - 1},
        LoadCase{"Rgba",
                 fileMadeBy([] { return testfiles::volumeBytes({}, testfiles::randomBody(4, 1)); }),
                 4, kRgbaBody},
        LoadCase{
            "Rgb", fileMadeBy([] {
                return testfiles::volumeBytes({"VOLU", 4, 128, 3, 1}, testfiles::randomBody(3, 2));
            }),
            3, 128 * 128 * 128 * 3},
        LoadCase{"FiveChannelsAndTrailingBytes",
                 [](const testfiles::ScratchFolder& f) {
                     auto bytes = testfiles::volumeBytes({"VOLU", 4, 128, 5, 1},
                                                         testfiles::randomBody(5, 3));
                     bytes.push_back(0xAB);
                     return writeFile(f, bytes);
                 },
                 5, 128 * 128 * 128 * 5}),
    [](const testing::TestParamInfo<LoadCase>& testCase) {
        return std::string(testCase.param.name);
    });

TEST(Loader, UnreadHeaderBytesDoNotMatter) {
    testfiles::ScratchFolder folder;
    const reference::Volume expected{testfiles::randomBody(4, 5), 4};
    auto bytes = testfiles::volumeBytes({}, expected.body);
    for (std::size_t i = 8; i < 268; ++i) bytes[i] = static_cast<unsigned char>(i * 31);
    for (std::size_t i = 280; i < 4096; ++i) bytes[i] = static_cast<unsigned char>(i * 17);
    testfiles::writeBytes(folder.file("noisy.vol"), bytes);

    VoxelVolume store;
    std::int32_t bytesRead = 0;
    ASSERT_EQ(store.loadVolumeFile(folder.file("noisy.vol").string().c_str(), bytesRead), 4);
    EXPECT_TRUE(
        reference::sameBits(store.voxelAt(17, 3, 120), reference::voxelAt(expected, 17, 3, 120)));
}

TEST(Loader, SecondLoadReplacesTheFirst) {
    testfiles::ScratchFolder folder;
    const reference::Volume first{testfiles::randomBody(4, 10), 4};
    const reference::Volume second{testfiles::randomBody(3, 11), 3};
    testfiles::writeBytes(folder.file("a.vol"), testfiles::volumeBytes({}, first.body));
    testfiles::writeBytes(folder.file("b.vol"),
                          testfiles::volumeBytes({"VOLU", 4, 128, 3, 1}, second.body));
    VoxelVolume store;
    std::int32_t bytesRead = 0;
    ASSERT_EQ(store.loadVolumeFile(folder.file("a.vol").string().c_str(), bytesRead), 4);
    ASSERT_EQ(store.loadVolumeFile(folder.file("b.vol").string().c_str(), bytesRead), 3);
    EXPECT_EQ(store.channelCount(), 3);
    EXPECT_TRUE(reference::sameBits(store.sampleTrilinear(0.3f, 0.6f, 0.9f),
                                    reference::sampleTrilinear(second, 0.3f, 0.6f, 0.9f)));
}

TEST(Loader, FailedLoadsIntoAnEmptyStoreLeaveItEmpty) {
    testfiles::ScratchFolder folder;
    testfiles::writeBytes(folder.file("short.vol"), rgbaFileShortBy(1000));
    VoxelVolume store;
    std::int32_t bytesRead = 0;
    EXPECT_EQ(store.loadVolumeFile(folder.file("short.vol").string().c_str(), bytesRead), -2);
    EXPECT_EQ(store.loadVolumeFile(nullptr, bytesRead), -1);
    EXPECT_FALSE(store.hasVolume());
    EXPECT_EQ(store.channelCount(), 0);
    EXPECT_TRUE(reference::sameBits(store.sampleTrilinear(0.5f, 0.5f, 0.5f), {0, 0, 0, 0}));
}

// Windows keeps the log in C:\temp, which tests/windows creates and removes around its cases.
#ifndef _WIN32
TEST(LogStream, IsCreatedEmptyInTheTemporaryFolder) {
    const auto logPath = std::filesystem::temp_directory_path() / "volume-log.txt";
    VoxelVolume store;
    ASSERT_TRUE(store.hasLogStream());
    EXPECT_TRUE(std::filesystem::is_regular_file(logPath));
    EXPECT_EQ(std::filesystem::file_size(logPath), 0u);
}

// One store at a time holds the log; the others work without it, so many nodes do not hold
// a descriptor each.
TEST(LogStream, OnlyOneStoreHoldsIt) {
    auto first = std::make_unique<VoxelVolume>();
    VoxelVolume second;
    ASSERT_TRUE(first->hasLogStream());
    EXPECT_FALSE(second.hasLogStream());
    first.reset();
    VoxelVolume third;
    EXPECT_TRUE(third.hasLogStream());
}
#endif

}  // namespace
