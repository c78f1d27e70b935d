// OpenVDB grids: a float grid becomes a density, a Vec3 float grid a colour, and the two
// together, as `convert` writes them, colour and alpha.
#include <openvdb/openvdb.h>

#include <algorithm>

#include "AtomicFile.h"
#include "Convert.h"
#include "Export.h"
#include "InputFile.h"
#include "ToolError.h"

namespace {

// Beyond this the float copy of the active region would take more than 12 GiB.
constexpr openvdb::Index64 kMaxVoxels = openvdb::Index64(1) << 30;
// The names written, those that renderers look for by default.
const char* const kColourGridName = "color";
const char* const kAlphaGridName = "density";

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The grid to read, or with no --grid and exactly a vec3s and a float grid in the file, both:
// colour first.
std::vector<std::string> chooseGrids(openvdb::io::File& file, const std::string& path,
                                     const std::string& wanted) {
    std::vector<std::string> names;
    std::vector<std::string> types;
    const openvdb::GridPtrVecPtr metadata = file.readAllGridMetadata();
    for (const openvdb::GridBase::Ptr& grid : *metadata) {
        names.push_back(grid->getName());
        types.push_back(grid->valueType());
    }
    if (names.empty()) throw ToolError(path, "holds no grids");
    if (!wanted.empty()) {
        if (!file.hasGrid(wanted))
            throw ToolError(path,
                            "no grid named \"" + wanted + "\" (grids: " + joined(names) + ")");
        return {wanted};
    }
    if (names.size() == 1) return names;
    const auto colour =
        std::find(types.begin(), types.end(), openvdb::typeNameAsString<openvdb::Vec3s>());
    const auto alpha = std::find(types.begin(), types.end(), openvdb::typeNameAsString<float>());
    if (names.size() == 2 && colour != types.end() && alpha != types.end())
        return {names[std::size_t(colour - types.begin())],
                names[std::size_t(alpha - types.begin())]};
    throw ToolError(path, "holds several grids (" + joined(names) + "); choose one with --grid");
}

// The grid's values over its active bounding box; `store` writes the channels of a value, and
// `extra` those of further grids at the same index.
template <typename GridType, typename Store,
          typename Extra = void (*)(const openvdb::Coord&, float*)>
Lattice copyActiveBox(
    const GridType& grid, const std::string& path, int channels, Store store,
    Extra extra = [](const openvdb::Coord&, float*) {}) {
    const openvdb::CoordBBox box = grid.evalActiveVoxelBoundingBox();
    if (box.empty()) throw ToolError(path, "grid \"" + grid.getName() + "\" has no active voxels");
    const openvdb::Coord extent = box.dim();
    if (box.volume() > kMaxVoxels)
        throw ToolError(path, "active region of grid \"" + grid.getName() + "\" holds " +
                                  std::to_string(box.volume()) + " voxels, more than " +
                                  std::to_string(kMaxVoxels));
    Lattice lattice({extent.x(), extent.y(), extent.z()}, channels);
    auto accessor = grid.getConstAccessor();
    float* target = lattice.values.data();
    for (int z = 0; z < extent.z(); ++z)
        for (int y = 0; y < extent.y(); ++y)
            for (int x = 0; x < extent.x(); ++x, target += channels) {
                const openvdb::Coord index = box.min().offsetBy(x, y, z);
                store(accessor.getValue(index), target);
                extra(index, target);
            }
    return lattice;
}

}  // namespace

SourceVolume readVdbGrid(const std::string& path, const std::string& gridName) {
    openvdb::initialize();
    openvdb::io::File file(path);
    std::vector<openvdb::GridBase::Ptr> grids;
    try {
        file.open(false);
        for (const std::string& name : chooseGrids(file, path, gridName))
            grids.push_back(file.readGrid(name));
    } catch (const openvdb::Exception& error) {
        throw ToolError(path, "cannot read OpenVDB file (" + firstLine(error.what()) + ")");
    }
    const openvdb::GridBase::Ptr& grid = grids.front();
    const auto storeColour = [](const openvdb::Vec3s& value, float* target) {
        for (int c = 0; c < 3; ++c) target[c] = 255.0f * value[c];
    };
    if (grids.size() == 2) {
        const auto colour = openvdb::gridConstPtrCast<openvdb::Vec3SGrid>(grid);
        const auto alpha = openvdb::gridConstPtrCast<openvdb::FloatGrid>(grids.back());
        auto alphaAt = alpha->getConstAccessor();
        return {copyActiveBox(*colour, path, 4, storeColour,
                              [&alphaAt](const openvdb::Coord& index, float* target) {
                                  target[3] = 255.0f * alphaAt.getValue(index);
                              }),
                false};
    }
    if (const auto density = openvdb::gridConstPtrCast<openvdb::FloatGrid>(grid)) {
        return {copyActiveBox(*density, path, 1,
                              [](float value, float* target) { target[0] = 255.0f * value; }),
                true};
    }
    if (const auto colour = openvdb::gridConstPtrCast<openvdb::Vec3SGrid>(grid)) {
        return {copyActiveBox(*colour, path, 3, storeColour), false};
    }
    throw ToolError(path, "grid \"" + grid->getName() + "\" holds " + grid->valueType() +
                              " values; only float and vec3s grids convert");
}

void writeVdbVolume(const std::string& path, const VoxelGrid& grid) {
    openvdb::initialize();
    // Index (i, j, k) at (i, j, k) / 128: the volume fills the unit cube, one texture period,
    // with each voxel where the node's sampler puts it.
    const openvdb::math::Transform::Ptr transform =
        openvdb::math::Transform::createLinearTransform(1.0 / kEdge);
    auto colour = openvdb::Vec3SGrid::create(openvdb::Vec3s(0.0f));
    colour->setName(kColourGridName);
    colour->setTransform(transform);
    auto alpha = openvdb::FloatGrid::create(0.0f);
    alpha->setName(kAlphaGridName);
    alpha->setTransform(transform);
    alpha->setGridClass(openvdb::GRID_FOG_VOLUME);
    const bool hasAlpha = grid.channels() >= 4;
    // Every voxel is active, so that the active box, which a reader takes, is the whole 128^3.
    auto colourAt = colour->getAccessor();
    auto alphaAt = alpha->getAccessor();
    for (int z = 0; z < kEdge; ++z)
        for (int y = 0; y < kEdge; ++y)
            for (int x = 0; x < kEdge; ++x) {
                const unsigned char* record = grid.record(x, y, z);
                const openvdb::Coord index(x, y, z);
                colourAt.setValue(index, openvdb::Vec3s(record[0] / 255.0f, record[1] / 255.0f,
                                                        record[2] / 255.0f));
                if (hasAlpha) alphaAt.setValue(index, record[3] / 255.0f);
            }
    colour->tree().prune();
    alpha->tree().prune();
    openvdb::GridPtrVec grids{colour};
    if (hasAlpha) grids.push_back(alpha);
    replaceFileAtomically(path, [&](const std::string& temporary) {
        try {
            openvdb::io::File(temporary).write(grids);
        } catch (const openvdb::Exception& error) {
            throw ToolError(path, "cannot write (" + firstLine(error.what()) + ")");
        }
    });
}
