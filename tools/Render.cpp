#include "Render.h"

#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>
#include <voxlumhost/Host.h>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "AtomicFile.h"
#include "DirectTexture.h"
#include "FormatError.h"
#include "ImageFile.h"
#include "VolumeWriter.h"

namespace {

using Matrix4d = std::array<double, 16>;

Matrix4d multiply(const Matrix4d& a, const Matrix4d& b) {
    Matrix4d product{};
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            for (int k = 0; k < 4; ++k)
                product[row * 4 + column] += a[row * 4 + k] * b[k * 4 + column];
    return product;
}

Matrix4d rotationAbout(int axis, double radians) {
    Matrix4d rotation = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const int first = (axis + 1) % 3;
    const int second = (axis + 2) % 3;
    rotation[first * 4 + first] = std::cos(radians);
    rotation[first * 4 + second] = std::sin(radians);
    rotation[second * 4 + first] = -std::sin(radians);
    rotation[second * 4 + second] = std::cos(radians);
    return rotation;
}

struct RGB {
    float r, g, b;
};

RGB checker(int x, int y, int cell) {
    const float grey = ((x / cell + y / cell) % 2 == 0) ? 0.65f : 0.35f;
    return {grey, grey, grey};
}

// A point of world space for each pixel, or false where the view shows only background.
struct PixelPoint {
    bool hit;
    float x, y, z;
    float shade;
};

PixelPoint pointFor(const RenderOptions& options, int column, int row) {
    const double u = (column + 0.5) / options.width;
    const double v = 1.0 - (row + 0.5) / options.height;  // image rows run downwards
    switch (options.view) {
        case RenderView::kSlice:
            return {true, float(u), float(v), options.depth, 1.0f};
        case RenderView::kTiles:
            return {true, float(3 * u), float(3 * v), options.depth, 1.0f};
        case RenderView::kSphere: {
            // An orthographic view down -z of the sphere inscribed in the unit cube.
            const double size = std::min(options.width, options.height);
            const double nx = (column + 0.5 - options.width / 2.0) / (size / 2);
            const double ny = (options.height / 2.0 - row - 0.5) / (size / 2);
            const double rr = nx * nx + ny * ny;
            if (rr > 1.0) return {false, 0, 0, 0, 0};
            const double nz = std::sqrt(1.0 - rr);
            const double light[3] = {-0.40, 0.55, 0.73};
            const double lambert = std::max(0.0, nx * light[0] + ny * light[1] + nz * light[2]);
            return {true, float(0.5 + nx / 2), float(0.5 + ny / 2), float(0.5 + nz / 2),
                    float(0.2 + 0.8 * lambert)};
        }
    }
    return {false, 0, 0, 0, 0};
}

// The plug-in loaded into the host with one node reading the volume; unloaded again on exit.
class TextureSession {
  public:
    explicit TextureSession(const RenderOptions& options) : pluginPath_(options.pluginPath) {
        try {
            open(options);
        } catch (...) {
            release();
            throw;
        }
    }
    ~TextureSession() { release(); }
    TextureSession(const TextureSession&) = delete;
    TextureSession& operator=(const TextureSession&) = delete;

    // A renderer thread's view of the node: the node's plugs are set up once and not touched
    // per point, so threads shade side by side, each through a context of its own.
    class Shader {
      public:
        explicit Shader(const TextureSession& session) : session_(session) {
            check(context_.attach(session.node_), session.pluginPath_);
        }
        VoxelSample colourAt(const std::array<float, 3>& point) {
            check(context_.setFloat3(session_.pointWorld_, point[0], point[1], point[2]),
                  "pointWorld");
            MFloatVector colour;
            float alpha = 0;
            check(context_.getFloat3(session_.outColor_, colour), "outColor");
            check(context_.getFloat(session_.outAlpha_, alpha), "outAlpha");
            return {colour.x, colour.y, colour.z, alpha};
        }

      private:
        const TextureSession& session_;
        mayahost::ShadingContext context_;
    };

  private:
    void open(const RenderOptions& options) {
        mayahost::setConsoleEcho(options.hostMessages);
        check(mayahost::loadPlugin(pluginPath_), pluginPath_);
        loaded_ = true;
        check(mayahost::createNode("Voxlum", node_), pluginPath_);
        const std::size_t errorsBefore = errorCount();
        check(mayahost::setString(node_, "fileTextureName", options.volumePath),
              options.volumePath);
        if (errorCount() != errorsBefore)
            throw FormatError(options.volumePath, "the Voxlum node did not load it");
        MFloatMatrix placement;
        for (int i = 0; i < 16; ++i) placement(i / 4, i % 4) = options.placement[std::size_t(i)];
        check(mayahost::setMatrix(node_, "placementMatrix", placement), "placementMatrix");
        check(mayahost::findAttribute(node_, "pointWorld", pointWorld_), "pointWorld");
        check(mayahost::findAttribute(node_, "outColor", outColor_), "outColor");
        check(mayahost::findAttribute(node_, "outAlpha", outAlpha_), "outAlpha");
    }
    void release() {
        if (node_ != nullptr) mayahost::deleteNode(node_);
        node_ = nullptr;
        if (loaded_) mayahost::unloadPlugin(pluginPath_);
        loaded_ = false;
    }
    static void check(const mayahost::Result& result, const std::string& subject) {
        if (!result.ok) throw FormatError(subject, result.error);
    }
    static std::size_t errorCount() {
        const auto messages = mayahost::messages();
        return std::size_t(std::count_if(messages.begin(), messages.end(), [](const auto& m) {
            return m.kind == mayahost::MessageKind::Error;
        }));
    }

    std::string pluginPath_;
    bool loaded_ = false;
    mayahost::Node* node_ = nullptr;
    mayahost::AttributeHandle pointWorld_, outColor_, outAlpha_;
};

void writeImage(const std::string& path, int width, int height,
                const std::vector<unsigned char>& pixels) {
    replaceFileAtomically(path, [&](const std::string& temporary) {
        writeImageFile(path, temporary, width, height, 3, pixels.data());
    });
}

// Colour and alpha at a row's world points, one sample per point.
using RowSampler = std::function<void(const std::vector<std::array<float, 3>>& points,
                                      std::vector<VoxelSample>& samples)>;

// Rows are shaded side by side; each task samples through a RowSampler of its own.
void renderRows(const RenderOptions& options, const std::function<void(double)>& progress,
                const std::function<RowSampler()>& makeSampler) {
    const int cell = std::max(4, std::max(options.width, options.height) / 16);
    const std::size_t rowBytes = std::size_t(options.width) * 3;
    std::vector<unsigned char> pixels(rowBytes * std::size_t(options.height));
    std::mutex progressMutex;
    int rowsDone = 0;
    tbb::parallel_for(tbb::blocked_range<int>(0, options.height), [&](const auto& rows) {
        const RowSampler sampleRow = makeSampler();
        std::vector<PixelPoint> row(std::size_t(options.width));
        std::vector<std::array<float, 3>> hits;
        std::vector<VoxelSample> samples;
        for (int y = rows.begin(); y < rows.end(); ++y) {
            hits.clear();
            for (int column = 0; column < options.width; ++column) {
                const PixelPoint& point = row[std::size_t(column)] = pointFor(options, column, y);
                if (point.hit) hits.push_back({point.x, point.y, point.z});
            }
            sampleRow(hits, samples);
            const VoxelSample* sample = samples.data();
            unsigned char* pixel = pixels.data() + rowBytes * std::size_t(y);
            for (int column = 0; column < options.width; ++column) {
                const RGB background = checker(column, y, cell);
                RGB shown = background;
                const PixelPoint& point = row[std::size_t(column)];
                if (point.hit) {
                    const VoxelSample& s = *sample++;
                    const float alpha = s.a;
                    // Composited over the background by alpha, so empty space shows as such.
                    shown = {s.r * point.shade * alpha + background.r * (1 - alpha),
                             s.g * point.shade * alpha + background.g * (1 - alpha),
                             s.b * point.shade * alpha + background.b * (1 - alpha)};
                }
                *pixel++ = unitToByte(shown.r);
                *pixel++ = unitToByte(shown.g);
                *pixel++ = unitToByte(shown.b);
            }
        }
        const std::lock_guard<std::mutex> lock(progressMutex);
        rowsDone += rows.end() - rows.begin();
        progress(double(rowsDone) / options.height);
    });
    writeImage(options.outputPath, options.width, options.height, pixels);
}

}  // namespace

Matrix4 placementFor(float scale, const std::array<float, 3>& rotateDegrees,
                     const std::array<float, 3>& translate) {
    constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;
    // The inverse of scale, then rotations about x, y, z, then translation, composed in reverse.
    Matrix4d inverse = {
        1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -translate[0], -translate[1], -translate[2], 1};
    for (int axis = 2; axis >= 0; --axis)
        inverse = multiply(
            inverse, rotationAbout(axis, -rotateDegrees[std::size_t(axis)] * kRadiansPerDegree));
    const double shrink = 1.0 / scale;
    inverse = multiply(inverse, {shrink, 0, 0, 0, 0, shrink, 0, 0, 0, 0, shrink, 0, 0, 0, 0, 1});
    Matrix4 placement;
    for (std::size_t i = 0; i < 16; ++i) placement[i] = static_cast<float>(inverse[i]);
    return placement;
}

void renderVolume(const RenderOptions& options, const std::function<void(double)>& progress) {
    if (options.width <= 0 || options.height <= 0)
        throw FormatError(options.outputPath, "the image size must be positive");
    if (options.direct) {
        const DirectTexture texture(options.volumePath, options.placement);
        renderRows(options, progress, [&texture]() -> RowSampler {
            return
                [&texture](const auto& points, auto& samples) { texture.sample(points, samples); };
        });
        return;
    }
    const TextureSession texture(options);
    renderRows(options, progress, [&texture]() -> RowSampler {
        auto shader = std::make_shared<TextureSession::Shader>(texture);
        return [shader](const auto& points, auto& samples) {
            samples.resize(points.size());
            for (std::size_t i = 0; i < points.size(); ++i)
                samples[i] = shader->colourAt(points[i]);
        };
    });
}
