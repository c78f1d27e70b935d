// OpenVDB grids: a float grid becomes a density, a Vec3 float grid a colour.
#include <openvdb/openvdb.h>

#include "Convert.h"
#include "InputFile.h"
#include "ToolError.h"

namespace {

// Beyond this the float copy of the active region would take more than 12 GiB.
constexpr openvdb::Index64 kMaxVoxels = openvdb::Index64(1) << 30;

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string chooseGrid(openvdb::io::File& file, const std::string& path,
                       const std::string& wanted) {
    std::vector<std::string> names;
    for (auto name = file.beginName(); name != file.endName(); ++name)
        names.push_back(name.gridName());
    if (names.empty()) throw ToolError(path, "holds no grids");
    if (!wanted.empty()) {
        if (!file.hasGrid(wanted))
            throw ToolError(path,
                            "no grid named \"" + wanted + "\" (grids: " + joined(names) + ")");
        return wanted;
    }
    if (names.size() > 1)
        throw ToolError(path,
                        "holds several grids (" + joined(names) + "); choose one with --grid");
    return names.front();
}

// The grid's values over its active bounding box; `store` writes one value's channels.
template <typename GridType, typename Store>
Lattice copyActiveBox(const GridType& grid, const std::string& path, int channels, Store store) {
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
            for (int x = 0; x < extent.x(); ++x, target += channels)
                store(accessor.getValue(box.min().offsetBy(x, y, z)), target);
    return lattice;
}

}  // namespace

SourceVolume readVdbGrid(const std::string& path, const std::string& gridName) {
    openvdb::initialize();
    openvdb::io::File file(path);
    openvdb::GridBase::Ptr grid;
    try {
        file.open(false);
        grid = file.readGrid(chooseGrid(file, path, gridName));
    } catch (const openvdb::Exception& error) {
        throw ToolError(path, "cannot read OpenVDB file (" + firstLine(error.what()) + ")");
    }
    if (const auto density = openvdb::gridConstPtrCast<openvdb::FloatGrid>(grid)) {
        return {copyActiveBox(*density, path, 1,
                              [](float value, float* target) { target[0] = 255.0f * value; }),
                true};
    }
    if (const auto colour = openvdb::gridConstPtrCast<openvdb::Vec3SGrid>(grid)) {
        return {copyActiveBox(*colour, path, 3,
                              [](const openvdb::Vec3s& value, float* target) {
                                  for (int c = 0; c < 3; ++c) target[c] = 255.0f * value[c];
                              }),
                false};
    }
    throw ToolError(path, "grid \"" + grid->getName() + "\" holds " + grid->valueType() +
                              " values; only float and vec3s grids convert");
}
