// The node as a renderer drives it: the Voxlum plug-in module loaded into the host, and per
// shaded point pointWorld set and outColor read, both by handle, on the node's plugs and through
// a shading context. The difference to the sampleTrilinear rows of the same run is what the
// host and the node add to a sample.
#include <maya/MFloatVector.h>
#include <voxlumhost/Host.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BenchSupport.h"

namespace {

using bench::Pattern;

void require(const mayahost::Result& result, const char* what) {
    if (!result) {
        std::fprintf(stderr, "node benchmark: %s failed: %s\n", what, result.error.c_str());
        std::abort();
    }
}

struct VoxlumNode {
    mayahost::Node* node = nullptr;
    mayahost::AttributeHandle pointWorld;
    mayahost::AttributeHandle outColor;

    VoxlumNode() {
        mayahost::setConsoleEcho(false);
        require(mayahost::loadPlugin(VOXLUM_PLUGIN_PATH), "loading the plug-in");
        require(mayahost::createNode("Voxlum", node), "creating the node");
        require(mayahost::setString(node, "fileTextureName", bench::volumeFilePath()),
                "setting fileTextureName");
        require(mayahost::findAttribute(node, "pointWorld", pointWorld), "finding pointWorld");
        require(mayahost::findAttribute(node, "outColor", outColor), "finding outColor");
    }

    MFloatVector colorAt(float x, float y, float z) const {
        mayahost::setFloat3(node, pointWorld, x, y, z);
        MFloatVector color;
        mayahost::getFloat3(node, outColor, color);
        return color;
    }
};

struct ShadedVoxlumNode {
    mayahost::ShadingContext context;
    const VoxlumNode& voxlum;

    explicit ShadedVoxlumNode(const VoxlumNode& attached) : voxlum(attached) {
        require(context.attach(voxlum.node), "attaching a shading context");
    }

    MFloatVector colorAt(float x, float y, float z) {
        context.setFloat3(voxlum.pointWorld, x, y, z);
        MFloatVector color;
        context.getFloat3(voxlum.outColor, color);
        return color;
    }
};

// With the default identity placement a point in the unit cube is its own texture coordinate,
// so the node must give exactly the store's sample: otherwise the rows measure different work.
template <class Evaluated>
void requireSameColorAsStore(Evaluated& voxlum, const bench::Point& p) {
    const MFloatVector color = voxlum.colorAt(p[0], p[1], p[2]);
    const VoxelSample sample = bench::loadedStore().sampleTrilinear(p[0], p[1], p[2]);
    const float expected[3] = {sample.r, sample.g, sample.b};
    const float actual[3] = {color.x, color.y, color.z};
    if (std::memcmp(actual, expected, sizeof actual) != 0) {
        std::fprintf(stderr, "node benchmark: the node's colour differs from the store's\n");
        std::abort();
    }
}

const VoxlumNode& sharedNode() {
    static const VoxlumNode voxlum;
    return voxlum;
}

void nodeEvaluation(benchmark::State& state, Pattern pattern) {
    const VoxlumNode& voxlum = sharedNode();
    requireSameColorAsStore(voxlum, bench::points(pattern).front());
    bench::samplePoints(state, pattern,
                        [&voxlum](float x, float y, float z) { return voxlum.colorAt(x, y, z); });
}

void shadingContextEvaluation(benchmark::State& state, Pattern pattern) {
    ShadedVoxlumNode shaded(sharedNode());
    requireSameColorAsStore(shaded, bench::points(pattern).front());
    bench::samplePoints(state, pattern,
                        [&shaded](float x, float y, float z) { return shaded.colorAt(x, y, z); });
}

}  // namespace

void bench::registerNodeBenchmarks() {
    for (Pattern pattern : {Pattern::coherent, Pattern::random}) {
        const std::string name = std::string("node/") + bench::patternName(pattern);
        benchmark::RegisterBenchmark(name.c_str(), nodeEvaluation, pattern)->UseRealTime();
        const std::string shading = std::string("shading/") + bench::patternName(pattern);
        benchmark::RegisterBenchmark(shading.c_str(), shadingContextEvaluation, pattern)
            ->UseRealTime();
    }
}
