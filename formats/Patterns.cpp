#include "Patterns.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "FormatError.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr int kOctaves = 5;
constexpr int kMarbleBands = 3;
constexpr double kMarbleTurbulence = 1.5;

// A fixed integer hash, so a seed gives the same volume with every compiler and library.
std::uint32_t mix(std::uint32_t h) {
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

double latticeValue(int x, int y, int z, std::uint32_t seed) {
    std::uint32_t h = mix(seed ^ 0x9e3779b9U);
    h = mix(h ^ static_cast<std::uint32_t>(x));
    h = mix(h ^ static_cast<std::uint32_t>(y));
    h = mix(h ^ static_cast<std::uint32_t>(z));
    return (h >> 8) * (1.0 / 16777216.0);
}

double fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

double lerp(double a, double b, double t) { return a + (b - a) * t; }

// One octave's corner values on a lattice of `period` cells per axis, repeating every `period`
// cells: each computed once instead of for each of the eight cells around it. The values have
// 24 bits, so float holds them exactly.
class PeriodicLattice {
  public:
    PeriodicLattice(int period, std::uint32_t seed)
        : period_(period),
          values_(std::size_t(period) * std::size_t(period) * std::size_t(period)) {
        std::size_t i = 0;
        for (int z = 0; z < period; ++z)
            for (int y = 0; y < period; ++y)
                for (int x = 0; x < period; ++x)
                    values_[i++] = static_cast<float>(latticeValue(x, y, z, seed));
    }

    // Value noise in [0, 1); (x, y, z) are in lattice units, never negative.
    double noise(double x, double y, double z) const {
        const double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
        const int ix = static_cast<int>(fx), iy = static_cast<int>(fy), iz = static_cast<int>(fz);
        const double tx = fade(x - fx), ty = fade(y - fy), tz = fade(z - fz);
        auto corner = [&](int dx, int dy, int dz) {
            return double(at((ix + dx) % period_, (iy + dy) % period_, (iz + dz) % period_));
        };
        auto edge = [&](int dy, int dz) { return lerp(corner(0, dy, dz), corner(1, dy, dz), tx); };
        return lerp(lerp(edge(0, 0), edge(1, 0), ty), lerp(edge(0, 1), edge(1, 1), ty), tz);
    }

    int period() const { return period_; }

  private:
    float at(int x, int y, int z) const {
        return values_[(std::size_t(z) * std::size_t(period_) + std::size_t(y)) *
                           std::size_t(period_) +
                       std::size_t(x)];
    }

    int period_;
    std::vector<float> values_;
};

// Fractal sum of octaves in [0, 1); each octave's lattice has a whole number of cells per
// unit, so the sum repeats every 128 voxels.
class FractalNoise {
  public:
    FractalNoise() = default;  // no octaves: for the patterns without noise
    FractalNoise(int frequency, std::uint32_t seed) {
        int cells = frequency;
        for (int octave = 0; octave < kOctaves; ++octave, cells *= 2)
            octaves_.emplace_back(cells, seed + static_cast<std::uint32_t>(octave));
    }

    double at(int x, int y, int z) const {
        double sum = 0, amplitude = 1, total = 0;
        for (const PeriodicLattice& lattice : octaves_) {
            const double scale = double(lattice.period()) / kVolumeGridSize;
            sum += amplitude * lattice.noise(x * scale, y * scale, z * scale);
            total += amplitude;
            amplitude *= 0.5;
        }
        return sum / total;
    }

  private:
    std::vector<PeriodicLattice> octaves_;
};

void cloudVoxel(const PatternOptions&, const FractalNoise& noiseField, int x, int y, int z,
                unsigned char (&rgba)[4]) {
    const double noise = noiseField.at(x, y, z);
    const double density = std::clamp((noise - 0.4) / 0.35, 0.0, 1.0);
    // Thin wisps are bright, dense cores a darker grey, as lit cloud looks.
    const unsigned char shade = unitToByte(0.95 - 0.35 * density);
    rgba[0] = rgba[1] = rgba[2] = shade;
    rgba[3] = unitToByte(density);
}

void marbleVoxel(const PatternOptions&, const FractalNoise& noise, int x, int y, int z,
                 unsigned char (&rgba)[4]) {
    const double phase =
        double(x) * kMarbleBands / kVolumeGridSize + kMarbleTurbulence * noise.at(x, y, z);
    const double vein = std::pow(0.5 + 0.5 * std::sin(kTwoPi * phase), 0.5);
    const double stone[3] = {0.93, 0.91, 0.86}, veinColour[3] = {0.25, 0.27, 0.33};
    for (int c = 0; c < 3; ++c) rgba[c] = unitToByte(lerp(veinColour[c], stone[c], vein));
    rgba[3] = 255;
}

void checkerVoxel(const PatternOptions& o, const FractalNoise&, int x, int y, int z,
                  unsigned char (&rgba)[4]) {
    const int parity = (x * o.cells / kVolumeGridSize + y * o.cells / kVolumeGridSize +
                        z * o.cells / kVolumeGridSize) %
                       2;
    rgba[0] = rgba[1] = rgba[2] = parity ? 230 : 25;
    rgba[3] = 255;
}

unsigned char gradientByte(int index) {
    return static_cast<unsigned char>((255 * index + (kVolumeGridSize - 1) / 2) /
                                      (kVolumeGridSize - 1));
}

void gradientVoxel(const PatternOptions&, const FractalNoise&, int x, int y, int z,
                   unsigned char (&rgba)[4]) {
    rgba[0] = gradientByte(x);
    rgba[1] = gradientByte(y);
    rgba[2] = gradientByte(z);
    rgba[3] = 255;
}

}  // namespace

const std::map<std::string, Pattern>& patternNames() {
    static const std::map<std::string, Pattern> kNames{{"cloud", Pattern::kCloud},
                                                       {"marble", Pattern::kMarble},
                                                       {"checker", Pattern::kChecker},
                                                       {"gradient", Pattern::kGradient}};
    return kNames;
}

VoxelGrid makePattern(const PatternOptions& options) {
    if (options.channels != 3 && options.channels != 4)
        throw OptionError("--channels", "expected 3 or 4");
    // Checker cells alternate across the seam only when their count is even.
    if (options.cells < 2 || options.cells > kVolumeGridSize || options.cells % 2 != 0)
        throw OptionError("--cells", "must be an even number from 2 to 128");
    if (options.frequency < 1 || options.frequency > 8)
        throw OptionError("--frequency", "must be from 1 to 8");
    using VoxelFunction =
        void (*)(const PatternOptions&, const FractalNoise&, int, int, int, unsigned char(&)[4]);
    // In the order of the Pattern enumerators.
    constexpr VoxelFunction kVoxelFunctions[] = {cloudVoxel, marbleVoxel, checkerVoxel,
                                                 gradientVoxel};
    const VoxelFunction voxel = kVoxelFunctions[static_cast<int>(options.pattern)];
    const bool noisy = options.pattern == Pattern::kCloud || options.pattern == Pattern::kMarble;
    const FractalNoise noise =
        noisy ? FractalNoise(options.frequency, options.seed) : FractalNoise();
    VoxelGrid grid(options.channels);
    unsigned char rgba[4];
    for (int z = 0; z < kVolumeGridSize; ++z)
        for (int y = 0; y < kVolumeGridSize; ++y)
            for (int x = 0; x < kVolumeGridSize; ++x) {
                voxel(options, noise, x, y, z, rgba);
                grid.set(x, y, z, rgba);
            }
    return grid;
}
