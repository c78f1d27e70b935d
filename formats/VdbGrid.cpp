// OpenVDB grids: a float grid becomes a density, a Vec3 float grid a colour, and the two
// together, as `convert` writes them, colour and alpha; or each channel from a grid of its own.
// Every grid is read over one box of world space, so grids of other voxel sizes, and the frames
// of a sequence, line up.
#include <openvdb/openvdb.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "AtomicFile.h"
#include "Convert.h"
#include "Export.h"
#include "FormatError.h"
#include "InputFile.h"
#include "VdbCache.h"

namespace {

// Beyond this the float copy of one grid's box would take more than 12 GiB.
constexpr openvdb::Index64 kMaxVoxels = openvdb::Index64(1) << 30;
// The names written, those that renderers look for by default.
const char* const kColourGridName = "color";
const char* const kAlphaGridName = "density";
// The simulation domain's size in voxels from index 0, as Blender's fluid caches name it.
const char* const kDomainResolutionName = "file_base_resolution";
// The active voxels' index box, which OpenVDB stores with every grid it writes.
const char* const kActiveMinName = "file_bbox_min";
const char* const kActiveMaxName = "file_bbox_max";
// An edge this close to a voxel edge is that edge: box corners carried through a transform
// and back pick up rounding.
constexpr double kEdgeSnap = 1e-6;

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

bool isFloatGrid(const openvdb::GridBase& grid) { return grid.isType<openvdb::FloatGrid>(); }
bool isVectorGrid(const openvdb::GridBase& grid) { return grid.isType<openvdb::Vec3SGrid>(); }

std::string backgroundText(const openvdb::GridBase& grid) {
    if (const auto* density = dynamic_cast<const openvdb::FloatGrid*>(&grid))
        return shortestText(density->background());
    const openvdb::Vec3s colour = dynamic_cast<const openvdb::Vec3SGrid&>(grid).background();
    return "(" + shortestText(colour[0]) + ", " + shortestText(colour[1]) + ", " +
           shortestText(colour[2]) + ")";
}

// The grids a conversion reads, and which of their components feeds each output channel.
struct GridPlan {
    std::vector<std::string> grids;
    std::array<ChannelSource, kRgbaChannels> channels;
    // A channel map: an empty grid in it reads as its background. A lone grid must hold voxels.
    bool mapped = false;

    // The grid's place in `grids`, each grid read once however many channels it feeds.
    int add(const std::string& name) {
        const auto found = std::find(grids.begin(), grids.end(), name);
        if (found != grids.end()) return int(found - grids.begin());
        grids.push_back(name);
        return int(grids.size()) - 1;
    }
};

GridPlan loneGridPlan(const openvdb::GridBase& grid, const std::string& path) {
    GridPlan plan;
    if (isFloatGrid(grid)) {
        plan.add(grid.getName());
        plan.channels = {ChannelSource{0, 0}, ChannelSource{0, 0}, ChannelSource{0, 0},
                         ChannelSource{0, 0}};
    } else if (isVectorGrid(grid)) {
        plan.add(grid.getName());
        plan.channels = {ChannelSource{0, 0}, ChannelSource{0, 1}, ChannelSource{0, 2},
                         ChannelSource{}};
    } else {
        throw FormatError(path, "grid \"" + grid.getName() + "\" holds " + grid.valueType() +
                                    " values; only float and vec3s grids convert");
    }
    return plan;
}

// `grids` are the file's grids without their trees.
GridPlan planGrids(const openvdb::GridPtrVec& grids, const std::string& path,
                   const GridSelection& selection) {
    std::vector<std::string> names;
    for (const openvdb::GridBase::Ptr& grid : grids) names.push_back(grid->getName());
    const auto named = [&](const std::string& name) -> const openvdb::GridBase* {
        const auto found = std::find(names.begin(), names.end(), name);
        return found == names.end() ? nullptr : grids[std::size_t(found - names.begin())].get();
    };
    if (names.empty()) throw FormatError(path, "holds no grids");
    if (!selection.lone.empty()) {
        const openvdb::GridBase* grid = named(selection.lone);
        if (grid == nullptr)
            throw FormatError(
                path, "no grid named \"" + selection.lone + "\" (grids: " + joined(names) + ")");
        return loneGridPlan(*grid, path);
    }
    if (selection.map.empty()) {
        if (grids.size() == 1) return loneGridPlan(*grids.front(), path);
        // Colour and alpha as `convert` writes them.
        const auto colour = std::find_if(grids.begin(), grids.end(),
                                         [](const auto& grid) { return isVectorGrid(*grid); });
        const auto alpha = std::find_if(grids.begin(), grids.end(),
                                        [](const auto& grid) { return isFloatGrid(*grid); });
        if (grids.size() != 2 || colour == grids.end() || alpha == grids.end())
            throw FormatError(path, "holds several grids (" + joined(names) +
                                        "); choose one with --grid, or map them with --grid "
                                        "CHANNEL=NAME");
        GridPlan plan;
        plan.add((*colour)->getName());
        plan.add((*alpha)->getName());
        plan.channels = {ChannelSource{0, 0}, ChannelSource{0, 1}, ChannelSource{0, 2},
                         ChannelSource{1, 0}};
        return plan;
    }
    GridPlan plan;
    plan.mapped = true;
    for (const GridMapping& mapping : selection.map) {
        const std::string option = "--grid " + mapping.grid;
        const openvdb::GridBase* grid = named(mapping.grid);
        if (grid == nullptr)
            throw OptionError(option, path + " has no grid named \"" + mapping.grid +
                                          "\" (grids: " + joined(names) + ")");
        if (mapping.vector ? !isVectorGrid(*grid) : !isFloatGrid(*grid))
            throw OptionError(option, "grid \"" + mapping.grid + "\" of " + path + " holds " +
                                          grid->valueType() + " values; " +
                                          (mapping.vector ? "rgb= takes a vec3s grid"
                                                          : "r=, g=, b= and a= take float grids"));
        const int index = plan.add(mapping.grid);
        for (std::size_t i = 0; i < mapping.channels.size(); ++i)
            plan.channels[std::size_t(mapping.channels[i])] = {index, mapping.vector ? int(i) : 0};
    }
    // Colour left unmapped is the grey of the first grid mapped; alpha left unmapped is opaque.
    for (int c : {kRed, kGreen, kBlue})
        if (plan.channels[std::size_t(c)].lattice < 0) plan.channels[std::size_t(c)] = {0, 0};
    return plan;
}

// world = index * scale + offset along each axis, at voxel centres.
struct AxisMap {
    std::array<double, 3> scale{1.0, 1.0, 1.0};
    std::array<double, 3> offset{};
};

// The grid's transform as scales and offsets, when it neither rotates, shears nor mirrors.
std::optional<AxisMap> axisMapOf(const openvdb::math::Transform& transform) {
    if (!transform.isLinear()) return std::nullopt;
    const openvdb::Mat4d matrix = transform.baseMap()->getAffineMap()->getMat4();
    AxisMap map;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column)
            if (row != column && matrix(row, column) != 0.0) return std::nullopt;
        if (!(matrix(row, row) > 0.0)) return std::nullopt;
        map.scale[std::size_t(row)] = matrix(row, row);
        map.offset[std::size_t(row)] = matrix(3, row);
    }
    return map;
}

WorldBox worldBoxOf(const openvdb::CoordBBox& voxels, const AxisMap& map) {
    WorldBox box;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        box.min[axis] = (voxels.min()[int(axis)] - 0.5) * map.scale[axis] + map.offset[axis];
        box.max[axis] = (voxels.max()[int(axis)] + 0.5) * map.scale[axis] + map.offset[axis];
    }
    return box;
}

// A world coordinate as a voxel edge of the grid: voxel i spans edges i to i + 1.
double edgeOf(double world, const AxisMap& map, std::size_t axis) {
    const double edge = (world - map.offset[axis]) / map.scale[axis] + 0.5;
    const double nearest = std::round(edge);
    return std::abs(edge - nearest) < kEdgeSnap ? nearest : edge;
}

// A grid read with its tree, placed in world space.
struct PlacedGrid {
    openvdb::GridBase::Ptr grid;
    AxisMap map;
    openvdb::CoordBBox active;
};

// The grids' maps. Grids that rotate, shear or mirror can be read only in their own index space,
// and so only together with grids of the very same transform and over an index box.
std::vector<AxisMap> axisMapsOf(const std::vector<openvdb::GridBase::Ptr>& grids,
                                const std::string& path, bool indexSpaceWillDo) {
    const bool oneTransform = std::all_of(grids.begin(), grids.end(), [&](const auto& grid) {
        return grid->transform() == grids.front()->transform();
    });
    std::vector<AxisMap> maps;
    for (const openvdb::GridBase::Ptr& grid : grids) {
        const std::optional<AxisMap> map = axisMapOf(grid->transform());
        if (!map && !(indexSpaceWillDo && oneTransform))
            throw FormatError(path, "grid \"" + grid->getName() +
                                        "\" is rotated, sheared, mirrored or in perspective; it "
                                        "converts only over its own active voxels or "
                                        "--index-bounds, with grids of the same transform");
        // Index space stands in for world space then.
        maps.push_back(map.value_or(AxisMap{}));
    }
    return maps;
}

std::optional<openvdb::Vec3i> vec3iMetadata(const openvdb::GridBase& grid, const char* name) {
    const auto value = grid.getMetadata<openvdb::Vec3IMetadata>(name);
    return value ? std::optional<openvdb::Vec3i>(value->value()) : std::nullopt;
}

// The box the file's metadata names as the simulation domain, through the first grid that
// names one.
WorldBox domainBox(const std::vector<PlacedGrid>& grids, const std::string& path) {
    for (const PlacedGrid& placed : grids)
        if (const auto resolution = vec3iMetadata(*placed.grid, kDomainResolutionName)) {
            if (resolution->x() < 1 || resolution->y() < 1 || resolution->z() < 1) break;
            return worldBoxOf(openvdb::CoordBBox(openvdb::Coord(0),
                                                 openvdb::Coord(*resolution) - openvdb::Coord(1)),
                              placed.map);
        }
    throw FormatError(path, "names no simulation domain (no grid has " +
                                std::string(kDomainResolutionName) +
                                " metadata); use --bounds union or --bounds X0 Y0 Z0 X1 Y1 Z1");
}

// Values times 255 (the lattice's scale), read from the grid over `first` onwards, `size` voxels.
template <typename GridType, typename Store>
void copyValues(const GridType& grid, const openvdb::Coord& first, Lattice& lattice, Store store) {
    tbb::parallel_for(tbb::blocked_range<int>(0, lattice.size[2]), [&](const auto& slices) {
        auto accessor = grid.getConstAccessor();
        for (int z = slices.begin(); z < slices.end(); ++z)
            for (int y = 0; y < lattice.size[1]; ++y) {
                float* target = lattice.values.data() + lattice.offset(0, y, z);
                for (int x = 0; x < lattice.size[0]; ++x, target += lattice.channels)
                    store(accessor.getValue(first.offsetBy(x, y, z)), target);
            }
    });
}

// The grid's voxels that `box` covers, with the stretch of them it spans.
SourceLattice readOver(const PlacedGrid& placed, const WorldBox& box, const std::string& path) {
    std::array<double, 3> start{};
    openvdb::Coord first;
    std::array<int, 3> size{};
    AxisMap map = placed.map;
    LatticeSpans spans;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double low = edgeOf(box.min[axis], map, axis);
        const double high = edgeOf(box.max[axis], map, axis);
        const double firstVoxel = std::floor(low);
        const double voxels = std::ceil(high) - firstVoxel;
        if (!(voxels <= double(kMaxVoxels)) || std::abs(firstVoxel) > double(kMaxVoxels))
            throw FormatError(path, "the box spans more than " + std::to_string(kMaxVoxels) +
                                        " voxels of grid \"" + placed.grid->getName() + "\"");
        first[int(axis)] = int(firstVoxel);
        size[axis] = std::max(1, int(voxels));
        start[axis] = low - firstVoxel;
        spans[axis] = {start[axis], high - low};
    }
    const openvdb::Index64 count =
        openvdb::Index64(size[0]) * openvdb::Index64(size[1]) * openvdb::Index64(size[2]);
    if (count > kMaxVoxels)
        throw FormatError(path, "the box holds " + std::to_string(count) + " voxels of grid \"" +
                                    placed.grid->getName() + "\", more than " +
                                    std::to_string(kMaxVoxels));
    if (const auto density = openvdb::gridConstPtrCast<openvdb::FloatGrid>(placed.grid)) {
        Lattice lattice(size, 1);
        copyValues(*density, first, lattice,
                   [](float value, float* target) { target[0] = unitToScale(value); });
        return {std::move(lattice), spans};
    }
    const auto colour = openvdb::gridConstPtrCast<openvdb::Vec3SGrid>(placed.grid);
    Lattice lattice(size, 3);
    copyValues(*colour, first, lattice, [](const openvdb::Vec3s& value, float* target) {
        for (int c = 0; c < 3; ++c) target[c] = unitToScale(value[c]);
    });
    return {std::move(lattice), spans};
}

// An OpenVDB file opened for reading; failures of the library become the tool's.
class VdbFile {
  public:
    explicit VdbFile(const std::string& path) : path_(path), file_(path) {
        openvdb::initialize();
        guarded([&] {
            file_.open(false);
            metadata_ = file_.readAllGridMetadata();
        });
    }

    // The grid `name` of the plan, without its tree.
    const openvdb::GridBase& header(const std::string& name) const {
        return **std::find_if(metadata_->begin(), metadata_->end(),
                              [&](auto& grid) { return grid->getName() == name; });
    }
    GridPlan plan(const GridSelection& selection) const {
        return planGrids(*metadata_, path_, selection);
    }

    std::vector<openvdb::GridBase::Ptr> read(const GridPlan& plan) {
        std::vector<openvdb::GridBase::Ptr> trees;
        guarded([&] {
            for (const std::string& name : plan.grids) trees.push_back(file_.readGrid(name));
        });
        return trees;
    }

    // Without a tree: the metadata OpenVDB writes with every grid; else its tree's.
    openvdb::CoordBBox activeVoxels(const std::string& name) {
        const auto min = vec3iMetadata(header(name), kActiveMinName);
        const auto max = vec3iMetadata(header(name), kActiveMaxName);
        if (min && max) return {openvdb::Coord(*min), openvdb::Coord(*max)};
        openvdb::CoordBBox box;
        guarded([&] { box = file_.readGrid(name)->evalActiveVoxelBoundingBox(); });
        return box;
    }

  private:
    template <typename Work>
    void guarded(Work work) {
        try {
            work();
        } catch (const openvdb::Exception& error) {
            throw FormatError(path_, "cannot read OpenVDB file (" + firstLine(error.what()) + ")");
        }
    }

    std::string path_;
    openvdb::io::File file_;
    openvdb::GridPtrVecPtr metadata_;
};

// The box the options choose; without one, each file's own active voxels.
const BoundsChoice& boundsOf(const ConvertOptions& options) {
    static const BoundsChoice kOwnActiveVoxels;
    return options.bounds ? *options.bounds : kOwnActiveVoxels;
}

std::vector<PlacedGrid> placeGrids(VdbFile& file, const GridPlan& plan, const std::string& path,
                                   BoundsChoice::Kind bounds) {
    const std::vector<openvdb::GridBase::Ptr> trees = file.read(plan);
    const bool indexSpaceWillDo =
        bounds == BoundsChoice::Kind::kActive || bounds == BoundsChoice::Kind::kIndex;
    const std::vector<AxisMap> maps = axisMapsOf(trees, path, indexSpaceWillDo);
    std::vector<PlacedGrid> placed;
    for (std::size_t i = 0; i < trees.size(); ++i)
        placed.push_back({trees[i], maps[i], trees[i]->evalActiveVoxelBoundingBox()});
    return placed;
}

// The grids' active voxels together, in world space.
WorldBox activeBoxOf(const std::vector<PlacedGrid>& grids) {
    WorldBox box = WorldBox::nothing();
    for (const PlacedGrid& placed : grids)
        if (!placed.active.empty()) box = box.united(worldBoxOf(placed.active, placed.map));
    return box;
}

// The box `options` gives, or the grids' own active voxels, `active`.
WorldBox chosenBox(const std::vector<PlacedGrid>& grids, const WorldBox& active,
                   const ConvertOptions& options, const std::string& path) {
    switch (boundsOf(options).kind) {
        case BoundsChoice::Kind::kActive:
            if (active.empty()) throw FormatError(path, "no grid of the map has active voxels");
            return active;
        case BoundsChoice::Kind::kIndex:
            return worldBoxOf(
                openvdb::CoordBBox(openvdb::Coord(boundsOf(options).firstIndex.data()),
                                   openvdb::Coord(boundsOf(options).lastIndex.data())),
                grids.front().map);
        case BoundsChoice::Kind::kDomain:
            return domainBox(grids, path);
        case BoundsChoice::Kind::kUnion:
        case BoundsChoice::Kind::kWorld:
            break;
    }
    return boundsOf(options).world;
}

bool overlap(const WorldBox& a, const WorldBox& b) {
    for (std::size_t axis = 0; axis < 3; ++axis)
        if (!(a.min[axis] < b.max[axis] && b.min[axis] < a.max[axis])) return false;
    return true;
}

// The world box the conversion covers; warns of, or refuses, grids with no active voxels, and
// warns of a box that misses them all.
WorldBox boxFor(const std::vector<PlacedGrid>& grids, const GridPlan& plan,
                const ConvertOptions& options, const std::string& path, ConversionReport* report) {
    const auto warn = [&](const std::string& warning) {
        if (report) report->warnings.push_back(path + ": " + warning);
    };
    for (const PlacedGrid& placed : grids) {
        if (!placed.active.empty()) continue;
        const std::string empty = "grid \"" + placed.grid->getName() + "\" has no active voxels";
        if (!plan.mapped && boundsOf(options).kind == BoundsChoice::Kind::kActive)
            throw FormatError(path, empty);
        warn(empty + "; it reads as its background value " + backgroundText(*placed.grid));
    }
    const WorldBox active = activeBoxOf(grids);
    const WorldBox box = chosenBox(grids, active, options, path);
    if (!active.empty() && !overlap(box, active))
        warn("the box " + formatBox(box) + " holds none of the active voxels (" +
             formatBox(active) + ")");
    return box;
}

}  // namespace

SourceVolume readVdbGrids(const std::string& path, const ConvertOptions& options,
                          ConversionReport* report) {
    VdbFile file(path);
    const GridPlan plan = file.plan(options.grids);
    const std::vector<PlacedGrid> grids = placeGrids(file, plan, path, boundsOf(options).kind);
    const WorldBox box = boxFor(grids, plan, options, path, report);
    if (report) report->box = box;
    SourceVolume source;
    for (const PlacedGrid& placed : grids) source.lattices.push_back(readOver(placed, box, path));
    source.channels = plan.channels;
    return source;
}

void writeVdbVolume(const std::string& path, const VoxelGrid& grid) {
    openvdb::initialize();
    // Index (i, j, k) at (i, j, k) / 128: the volume fills the unit cube, one texture period,
    // with each voxel where the node's sampler puts it.
    const openvdb::math::Transform::Ptr transform =
        openvdb::math::Transform::createLinearTransform(1.0 / kVolumeGridSize);
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
    for (int z = 0; z < kVolumeGridSize; ++z)
        for (int y = 0; y < kVolumeGridSize; ++y)
            for (int x = 0; x < kVolumeGridSize; ++x) {
                const unsigned char* record = grid.record(x, y, z);
                const openvdb::Coord index(x, y, z);
                colourAt.setValue(index,
                                  openvdb::Vec3s(byteToUnit(record[0]), byteToUnit(record[1]),
                                                 byteToUnit(record[2])));
                if (hasAlpha) alphaAt.setValue(index, byteToUnit(record[3]));
            }
    colour->tree().prune();
    alpha->tree().prune();
    openvdb::GridPtrVec grids{colour};
    if (hasAlpha) grids.push_back(alpha);
    replaceFileAtomically(path, [&](const std::string& temporary) {
        try {
            openvdb::io::File(temporary).write(grids);
        } catch (const openvdb::Exception& error) {
            throw FormatError(path, "cannot write (" + firstLine(error.what()) + ")");
        }
    });
}

namespace {

// The lowest and highest value a grid holds, its background included, and of a vector grid
// its components'.
template <typename GridType, typename Components>
std::pair<double, double> valueRangeOf(const GridType& grid, Components components) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    const auto take = [&](const typename GridType::ValueType& value) {
        for (const double component : components(value)) {
            low = std::min(low, component);
            high = std::max(high, component);
        }
    };
    take(grid.background());
    for (auto value = grid.cbeginValueOn(); value; ++value) take(*value);
    return {low, high};
}

std::pair<double, double> valueRangeOf(const openvdb::GridBase& grid) {
    if (const auto* density = dynamic_cast<const openvdb::FloatGrid*>(&grid))
        return valueRangeOf(*density, [](float value) { return std::array<double, 1>{value}; });
    return valueRangeOf(dynamic_cast<const openvdb::Vec3SGrid&>(grid),
                        [](const openvdb::Vec3s& value) {
                            return std::array<double, 3>{value[0], value[1], value[2]};
                        });
}

struct FrameFindings {
    bool read = false;
    std::exception_ptr unfitting;
    WorldBox box = WorldBox::nothing();
    // Per output channel, the lowest and highest value of what feeds it.
    std::array<std::pair<double, double>, kRgbaChannels> values;
};

FrameFindings surveyFrame(const std::string& path, const ConvertOptions& options, bool uniteBoxes,
                          bool wantValues) {
    FrameFindings findings;
    try {
        VdbFile file(path);
        GridPlan plan;
        try {
            plan = file.plan(options.grids);
        } catch (const OptionError&) {
            findings.unfitting = std::current_exception();
            return findings;
        }
        if (wantValues) {
            const std::vector<PlacedGrid> grids =
                placeGrids(file, plan, path, BoundsChoice::Kind::kUnion);
            findings.box = activeBoxOf(grids);
            for (std::size_t c = 0; c < findings.values.size(); ++c)
                if (plan.channels[c].lattice >= 0)
                    findings.values[c] =
                        valueRangeOf(*grids[std::size_t(plan.channels[c].lattice)].grid);
        } else if (uniteBoxes) {
            for (const std::string& name : plan.grids) {
                const openvdb::CoordBBox active = file.activeVoxels(name);
                if (active.empty()) continue;
                const std::optional<AxisMap> map = axisMapOf(file.header(name).transform());
                if (!map) return findings;
                findings.box = findings.box.united(worldBoxOf(active, *map));
            }
        }
        findings.read = true;
    } catch (const FormatError&) {
        // Converting the frame fails again and says why.
    }
    return findings;
}

ChannelRanges resolvedRanges(const ChannelRanges& asked, const std::vector<FrameFindings>& frames) {
    ChannelRanges ranges = asked;
    // The colour channels share one automatic range, so that hues survive; alpha has its own.
    const std::vector<std::vector<std::size_t>> groups{{kRed, kGreen, kBlue}, {kAlpha}};
    for (const std::vector<std::size_t>& group : groups) {
        double low = std::numeric_limits<double>::infinity();
        double high = -low;
        for (const FrameFindings& frame : frames)
            for (std::size_t c : group)
                if (frame.read && asked[c].automatic) {
                    low = std::min(low, frame.values[c].first);
                    high = std::max(high, frame.values[c].second);
                }
        if (!(low <= high)) low = 0.0, high = 1.0;
        // One value everywhere: [0, 1] stretched to hold it.
        if (!(high > low)) low = std::min(low, 0.0), high = std::max(high, 1.0);
        for (std::size_t c : group)
            if (asked[c].automatic) ranges[c] = {low, high, false};
    }
    return ranges;
}

}  // namespace

CacheSurvey surveyVdbFrames(const std::vector<std::string>& paths, const ConvertOptions& options,
                            bool uniteBoxes) {
    const bool wantValues = std::any_of(options.ranges.begin(), options.ranges.end(),
                                        [](const ValueRange& range) { return range.automatic; });
    std::vector<FrameFindings> frames(paths.size());
    tbb::parallel_for(std::size_t(0), paths.size(), [&](std::size_t i) {
        frames[i] = surveyFrame(paths[i], options, uniteBoxes, wantValues);
    });
    const auto first = std::find_if(frames.begin(), frames.end(), [](const FrameFindings& frame) {
        return frame.read || frame.unfitting;
    });
    if (first != frames.end() && first->unfitting) std::rethrow_exception(first->unfitting);
    CacheSurvey survey;
    for (const FrameFindings& frame : frames) {
        survey.box = survey.box.united(frame.box);
        survey.framesRead += frame.read ? 1 : 0;
    }
    survey.ranges = resolvedRanges(options.ranges, frames);
    return survey;
}

std::string formatRanges(const ChannelRanges& ranges) {
    std::string text;
    for (std::size_t c = 0; c < ranges.size(); ++c)
        text += std::string(text.empty() ? "" : ", ") + "rgba"[c] + " " +
                shortestText(ranges[c].low) + " " + shortestText(ranges[c].high);
    return text;
}
