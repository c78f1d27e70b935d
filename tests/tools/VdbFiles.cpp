#include "VdbFiles.h"

#include <openvdb/openvdb.h>

namespace tooltest {

namespace {

template <class Grid, class Convert>
openvdb::GridBase::Ptr gridOf(const VdbGrid& wanted, Convert convert) {
    auto grid = Grid::create();
    grid->setName(wanted.name);
    auto transform = openvdb::math::Transform::createLinearTransform(wanted.voxelSize);
    transform->postTranslate(
        openvdb::Vec3d(wanted.translation[0], wanted.translation[1], wanted.translation[2]));
    grid->setTransform(transform);
    for (const auto& [name, value] : wanted.metadata)
        grid->insertMeta(name,
                         openvdb::Vec3IMetadata(openvdb::Vec3i(value[0], value[1], value[2])));
    auto voxels = grid->getAccessor();
    const openvdb::Coord origin(wanted.origin[0], wanted.origin[1], wanted.origin[2]);
    for (int z = 0; z < wanted.size[2]; ++z)
        for (int y = 0; y < wanted.size[1]; ++y)
            for (int x = 0; x < wanted.size[0]; ++x)
                if (!wanted.present || wanted.present(x, y, z))
                    voxels.setValue(origin.offsetBy(x, y, z), convert(wanted.value(x, y, z)));
    return grid;
}

}  // namespace

void writeVdbFile(const std::filesystem::path& path, const std::vector<VdbGrid>& grids) {
    openvdb::initialize();
    openvdb::GridPtrVec written;
    for (const VdbGrid& wanted : grids) {
        if (wanted.components == 3)
            written.push_back(gridOf<openvdb::Vec3SGrid>(
                wanted, [](std::array<float, 3> v) { return openvdb::Vec3s(v[0], v[1], v[2]); }));
        else
            written.push_back(
                gridOf<openvdb::FloatGrid>(wanted, [](std::array<float, 3> v) { return v[0]; }));
    }
    openvdb::io::File(path.string()).write(written);
}

}  // namespace tooltest
