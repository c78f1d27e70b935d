// `voxlum render`: the picture is what the plug-in computes at each pixel's point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ImageFile.h"
#include "ReferenceSampler.h"
#include "ToolTestSupport.h"
#include "VolumeFiles.h"

namespace {

using tooltest::runVoxlum;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int column, int row) const {
        return rgb.data() + (std::size_t(row) * std::size_t(width) + std::size_t(column)) * 3;
    }
};

Image readImage(const std::filesystem::path& path) {
    Image image;
    const DecodedImage decoded = readImageFile(path.string());
    EXPECT_EQ(decoded.channels, 3) << path;
    if (decoded.channels != 3) return image;
    image.width = decoded.width;
    image.height = decoded.height;
    for (float value : decoded.pixels)
        image.rgb.push_back(static_cast<unsigned char>(std::lround(value * 255.0f)));
    return image;
}

unsigned char shownByte(float value) {
    return static_cast<unsigned char>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

class Rendered : public testing::Test {
  protected:
    void SetUp() override {
        const testfiles::VolumeBody made = tooltest::producedVolume(
            folder_.path(), "make gradient -o gradient.vol", "gradient.vol");
        gradient_ = {made.bytes, made.channels};
    }

    // Every pixel of a 128 x 128 slice against the reference sampler at the pixel's centre,
    // moved by `offsetX` in texture space.
    void expectSliceMatches(const std::string& options, float offsetX,
                            const std::filesystem::path& tool = VOXLUM_TOOL_PATH) {
        const tooltest::ToolRun run =
            runVoxlum(folder_.path(),
                      "render gradient.vol -o slice.png --view slice --size 128 " + options, tool);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Image image = readImage(folder_.file("slice.png"));
        ASSERT_EQ(image.width, 128);
        ASSERT_EQ(image.height, 128);
        int mismatches = 0;
        for (int row = 0; row < 128; ++row) {
            for (int column = 0; column < 128; ++column) {
                float u = (static_cast<float>(column) + 0.5f) / 128 - offsetX;
                if (u < 0) u += 1;
                const float v = 1 - (static_cast<float>(row) + 0.5f) / 128;  // rows run downwards
                const VoxelSample expected = reference::sampleTrilinear(gradient_, u, v, kDepth);
                const unsigned char* pixel = image.at(column, row);
                if (pixel[0] != shownByte(expected.r) || pixel[1] != shownByte(expected.g) ||
                    pixel[2] != shownByte(expected.b))
                    ++mismatches;
            }
        }
        EXPECT_EQ(mismatches, 0);
    }

    // Between lattice planes 37 and 38, a quarter of the way (0.291015625 exactly).
    static constexpr float kDepth = 37.25f / 128;
    testfiles::ScratchFolder folder_;
    reference::Volume gradient_;
};

// Red must grow along x (columns), green along y (up the image), blue follow the depth, each
// blended exactly as the sampler blends: a swapped axis or a half-voxel shift fails here.
TEST_F(Rendered, SliceOfTheAxisGradientShowsEachAxis) {
    expectSliceMatches(std::string("--depth 0.291015625"), 0);
    const Image image = readImage(folder_.file("slice.png"));
    EXPECT_LT(image.at(10, 64)[0], image.at(100, 64)[0]);
    EXPECT_GT(image.at(64, 10)[1], image.at(64, 100)[1]);
    EXPECT_EQ(image.at(3, 3)[2], image.at(120, 90)[2]);
}

TEST_F(Rendered, TranslatedPlacementMovesTheTexture) {
    expectSliceMatches(std::string("--depth 0.291015625") + " --translate 0.25 0 0", 0.25f);
}

TEST_F(Rendered, SphereAndTilesViewsWriteTheirPictures) {
    for (const char* view : {"sphere", "tiles"}) {
        const tooltest::ToolRun run =
            runVoxlum(folder_.path(),
                      std::string("render gradient.vol -o view.png --size 64x48 --view ") + view);
        ASSERT_EQ(run.exitCode, 0) << view << run.err;
        EXPECT_NE(run.out.find("Texture volume file loaded. Number of channels: 4"),
                  std::string::npos);
        const Image image = readImage(folder_.file("view.png"));
        EXPECT_EQ(image.width, 64);
        EXPECT_EQ(image.height, 48);
    }
}

// The direct render samples the store in batches without the plug-in; its pictures must be the
// plug-in's byte for byte, for every view, placements that carry points outside the unit cube,
// an RGBA cloud (alpha composited) and an RGB marble.
TEST_F(Rendered, DirectRenderEqualsThePluginsPicture) {
    runVoxlum(folder_.path(), "make cloud -o cloud.vol --channels 4");
    runVoxlum(folder_.path(), "make marble -o marble.vol --channels 3");
    for (const char* volume : {"cloud.vol", "marble.vol"}) {
        for (const char* view :
             {"--view slice --size 96x80", "--view sphere --size 96x80",
              "--view tiles --size 61x47",
              "--view tiles --size 96 --scale 0.37 --rotate 20 -35 71 --translate -0.3 1.7 -2.2",
              "--view sphere --size 80x96 --placement '0 0 -2 0 1 0 0 0 0 3 0 0 -0.5 0.25 7 1'"}) {
            const std::string render = std::string("render ") + volume + " " + view;
            const tooltest::ToolRun plugin = runVoxlum(folder_.path(), render + " -o plugin.png");
            const tooltest::ToolRun direct =
                runVoxlum(folder_.path(), render + " --direct -o direct.png");
            ASSERT_EQ(plugin.exitCode, 0) << render << plugin.err;
            ASSERT_EQ(direct.exitCode, 0) << render << direct.err;
            const Image expected = readImage(folder_.file("plugin.png"));
            const Image actual = readImage(folder_.file("direct.png"));
            EXPECT_EQ(actual.width, expected.width) << render;
            EXPECT_TRUE(actual.rgb == expected.rgb) << render;
        }
    }
}

TEST_F(Rendered, RefusedInputsWriteNoPicture) {
    tooltest::writeImage(folder_.file("not-a-volume.png"), 4, 4, 3, [](int, int) {
        return std::array<unsigned char, 4>{1, 2, 3, 4};
    });
    struct Case {
        const char* arguments;
        const char* named;  // what the error line must name
    };
    for (const Case& c : {Case{"render missing.vol -o out.png", "missing.vol"},
                          Case{"render not-a-volume.png -o out.png", "not-a-volume.png"},
                          Case{"render gradient.vol -o out.png --plugin nowhere.so", "nowhere.so"},
                          Case{"render gradient.vol -o no/such/folder/out.png", "out.png"},
                          Case{"render gradient.vol -o out.png --size 0x5", "--size"},
                          Case{"render not-a-volume.png -o out.png --direct", "not-a-volume.png"},
                          Case{"render missing.vol -o out.png --direct", "missing.vol"}}) {
        const tooltest::ToolRun run = runVoxlum(folder_.path(), c.arguments);
        EXPECT_NE(run.exitCode, 0) << c.arguments;
        EXPECT_NE(run.err.find(std::string("voxlum: error: ")), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << c.arguments << ": " << run.err;
        EXPECT_FALSE(std::filesystem::exists(folder_.file("out.png"))) << c.arguments;
    }
}

// The release archive unpacked into a fresh folder (or, without CPack, the build installed
// there) and found through the module path alone: the module's own tool renders through the
// module's plug-in, named bare.
TEST_F(Rendered, InstalledModuleRendersThroughThePluginFoundByItsBareName) {
    namespace fs = std::filesystem;
    const fs::path module = folder_.path() / "unpacked" / VOXLUM_MODULE_FOLDER;
    const std::string build = "'" VOXLUM_BUILD_DIR "'";
#ifdef VOXLUM_CPACK_COMMAND
    const std::string archive = std::string(VOXLUM_MODULE_FOLDER) + ".tar.gz";
    const std::string install = "cd '" + folder_.path().string() +
                                "' && '" VOXLUM_CPACK_COMMAND "' -G TGZ -B package --config " +
                                build +
                                "/CPackConfig.cmake >/dev/null && mkdir unpacked && cd unpacked "
                                "&& tar xzf ../package/" +
                                archive;
#else
    const std::string install = "'" VOXLUM_CMAKE_COMMAND "' --install " + build + " --prefix '" +
                                module.string() + "' >/dev/null";
#endif
    ASSERT_EQ(std::system(install.c_str()), 0) << install;
    // One folder, holding the module and nothing else.
    std::vector<std::string> expected;
    for (const char* entry :
         {"", "/LICENSE", "/README.md", "/bin", "/bin/libOpenMaya.so", "/bin/voxlum",
          "/bin/voxlum_images.so", "/icons", "/icons/out_Voxlum.png", "/icons/render_Voxlum.png",
          "/plug-ins", "/plug-ins/Voxlum.so", "/scripts", "/scripts/AEVoxlumTemplate.mel",
          "/scripts/voxlumCreateTexture.mel", "/voxlum.mod"})
        expected.push_back(VOXLUM_MODULE_FOLDER + std::string(entry));
#ifdef VOXLUM_PYTHON_EXTENSION
    for (const char* entry :
         {"/python", "/python/voxlum", "/python/voxlum/__init__.py", "/python/voxlum/__init__.pyi",
          "/python/voxlum/py.typed", "/python/voxlum/voxlum_images.so",
          "/python/voxlum/" VOXLUM_PYTHON_EXTENSION})
        expected.push_back(VOXLUM_MODULE_FOLDER + std::string(entry));
    std::sort(expected.begin(), expected.end());
#endif
    EXPECT_EQ(tooltest::folderListing(folder_.path() / "unpacked"), expected);

    unsetenv("MAYA_PLUG_IN_PATH");
    setenv("MAYA_MODULE_PATH", module.c_str(), 1);
    expectSliceMatches("--depth 0.291015625 --plugin Voxlum", 0, module / "bin" / "voxlum");
    unsetenv("MAYA_MODULE_PATH");
}

}  // namespace
