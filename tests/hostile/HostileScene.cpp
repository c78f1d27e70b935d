#include "HostileScene.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostile {

const reference::Volume& rgbVolume() {
    static const reference::Volume volume{testfiles::randomBody(3, 301), 3};
    return volume;
}

const reference::Volume& rgbaVolume() {
    static const reference::Volume volume{testfiles::randomBody(4, 302), 4};
    return volume;
}

Scene::Scene() {
    testfiles::writeBytes(rgbPath(),
                          testfiles::volumeBytes({"VOLU", 4, 128, 3, 1}, rgbVolume().body));
    auto rgba = testfiles::volumeBytes({}, rgbaVolume().body);
    testfiles::writeBytes(rgbaPath(), rgba);
    rgba.resize(rgba.size() / 2);
    testfiles::writeBytes(file("short.vol"), rgba);
    testfiles::writeBytes(file("magic.vol"), testfiles::headerBytes({"VOLX", 4, 128, 4, 1}));
    std::filesystem::create_directory(file("folder.vol"));
    EXPECT_EQ(::mkfifo(file("pipe.vol").c_str(), 0600), 0);
}

Scene::~Scene() {
    for (int descriptor : descriptors_) ::close(descriptor);
}

std::vector<std::string> Scene::refusedPaths() const {
    std::vector<std::string> paths;
    for (const char* name : {"short.vol", "magic.vol", "folder.vol", "pipe.vol", "missing.vol"})
        paths.push_back(file(name).string());
    return paths;
}

std::string Scene::link(const std::string& name, const std::filesystem::path& target) const {
    std::filesystem::create_symlink(target, file(name));
    return file(name).string();
}

std::string Scene::rgbaUnder(const std::filesystem::path& path) const {
    std::filesystem::create_hard_link(rgbaPath(), path);
    return path.string();
}

std::string Scene::fifo(const std::string& name, bool writer) {
    const std::string path = file(name).string();
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    if (writer) {
        // Read-write, so the open does not wait for a reader; the bytes make the FIFO readable.
        const int descriptor = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(descriptor, 0);
        descriptors_.push_back(descriptor);
        EXPECT_EQ(::write(descriptor, "VOLU", 4), 4);
    }
    return path;
}

VoxelSample outputsOf(mayahost::Node* node) {
    MFloatVector color;
    float alpha = -1;
    EXPECT_TRUE(mayahost::getFloat3(node, "outColor", color).ok);
    EXPECT_TRUE(mayahost::getFloat(node, "outAlpha", alpha).ok);
    return {color.x, color.y, color.z, alpha};
}

}  // namespace hostile
