// voxlum._voxlum: volumes as NumPy arrays and the node's exact sampler, for Python pipelines.
// The package `voxlum` re-exports what it defines.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FormatError.h"
#include "ModuleCore.h"
#include "ToolFunctions.h"

namespace py = pybind11;
using namespace pybind11::literals;
using voxlumpy::LoadedVolume;

namespace {

static_assert(sizeof(TexturePoint) == 3 * sizeof(float), "an (N, 3) float32 array is N points");
static_assert(sizeof(VoxelSample) == 4 * sizeof(float), "an (N, 4) float32 array is N samples");

constexpr py::ssize_t kEdge = kVolumeGridSize;

// Float32 items in C order at addresses a float may be read from, converted when they are not.
constexpr int kAligned = py::detail::npy_api::NPY_ARRAY_ALIGNED_;
using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast | kAligned>;
using ByteArray = py::array_t<std::uint8_t, py::array::c_style>;

std::string describeShape(const py::array& array) { return py::str(array.attr("shape")); }
std::string describeType(const py::array& array) { return py::str(array.dtype()); }

// Conversions keep NumPy's own exception, such as a MemoryError for a copy too large.

// Real numbers as float32: floats and integers are converted (a copy unless they are float32
// already); booleans, complex numbers and anything else are refused.
FloatArray realFloats(const py::object& value, const char* what) {
    const py::array array(value);
    const char kind = array.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u') {
        throw py::type_error(std::string(what) + " must hold real numbers; got " +
                             describeType(array));
    }
    return FloatArray(array);
}

FloatArray texturePoints(const py::object& points) {
    FloatArray array = realFloats(points, "points");
    if (array.ndim() != 2 || array.shape(1) != 3) {
        throw py::value_error("points must have shape (N, 3); got " + describeShape(array));
    }
    return array;
}

std::optional<PlacementMatrix> placementMatrix(const py::object& placement) {
    if (placement.is_none()) return std::nullopt;
    const FloatArray array = realFloats(placement, "placement");
    if (array.ndim() != 2 || array.shape(0) != 4 || array.shape(1) != 4) {
        throw py::value_error("placement must have shape (4, 4); got " + describeShape(array));
    }
    PlacementMatrix matrix;
    std::copy_n(array.data(), matrix.size(), matrix.begin());
    return matrix;
}

std::vector<py::ssize_t> voxelShape(std::int32_t channels) {
    return {kEdge, kEdge, kEdge, channels};
}

// Voxels to write: uint8 of shape (128, 128, 128, 3 or 4), in C order (a copy when they are
// not).
ByteArray volumeVoxels(const py::object& voxels) {
    const py::array array(voxels);
    if (!array.dtype().is(py::dtype::of<std::uint8_t>())) {
        const std::string given = describeType(array);
        throw py::type_error(array.dtype().kind() == 'f'
                                 ? "voxels must be uint8; got " + given +
                                       ": voxlum.from_float(voxels) maps [0, 1] to bytes"
                                 : "voxels must be uint8; got " + given);
    }
    const bool volumeShaped = array.ndim() == 4 && array.shape(0) == kEdge &&
                              array.shape(1) == kEdge && array.shape(2) == kEdge &&
                              (array.shape(3) == 3 || array.shape(3) == 4);
    if (!volumeShaped) {
        throw py::value_error(
            "voxels must have shape (128, 128, 128, 3) or (128, 128, 128, 4), indexed "
            "[z, y, x, channel]; got " +
            describeShape(array));
    }
    return ByteArray(array);
}

// A path as the system takes it: str, bytes or os.PathLike, encoded as open() encodes it.
std::string systemPath(const py::object& path) {
    const auto encoded = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    if (encoded.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    return encoded;
}

std::unique_ptr<LoadedVolume> readVolume(const py::object& path) {
    const std::string systemName = systemPath(path);
    const py::gil_scoped_release released;
    return std::make_unique<LoadedVolume>(systemName);
}

py::array readOnlyVoxels(const py::object& self) {
    const auto& volume = self.cast<const LoadedVolume&>();
    py::array view(py::dtype::of<std::uint8_t>(), voxelShape(volume.channels()), volume.records(),
                   self);
    view.attr("setflags")("write"_a = false);
    return view;
}

py::array_t<std::uint8_t> voxelCopy(const LoadedVolume& volume) {
    py::array_t<std::uint8_t> copy(voxelShape(volume.channels()));
    std::memcpy(copy.mutable_data(), volume.records(), static_cast<std::size_t>(copy.nbytes()));
    return copy;
}

py::array_t<float> sampleVolume(const LoadedVolume& volume, const py::object& points,
                                const py::object& placement) {
    const FloatArray texturePointArray = texturePoints(points);
    const std::optional<PlacementMatrix> matrix = placementMatrix(placement);
    py::array_t<float> samples({texturePointArray.shape(0), py::ssize_t{4}});
    const auto count = static_cast<std::size_t>(texturePointArray.shape(0));
    const auto* in = reinterpret_cast<const TexturePoint*>(texturePointArray.data());
    auto* out = reinterpret_cast<VoxelSample*>(samples.mutable_data());
    {
        // The caller's references keep the volume and both arrays alive meanwhile.
        const py::gil_scoped_release released;
        volume.sample(count, in, matrix ? &*matrix : nullptr, out);
    }
    return samples;
}

void writeVolume(const py::object& path, const py::object& voxels) {
    const std::string systemName = systemPath(path);
    const ByteArray records = volumeVoxels(voxels);
    const auto channels = static_cast<int>(records.shape(3));
    const py::gil_scoped_release released;
    voxlumpy::writeVolume(systemName, channels, records.data());
}

py::array_t<std::uint8_t> bytesFromFloats(const py::object& values) {
    const py::array array(values);
    if (array.dtype().kind() != 'f') {
        throw py::type_error("from_float takes floating-point values; got " + describeType(array));
    }
    const FloatArray floats(array);
    py::array_t<std::uint8_t> bytes(
        std::vector<py::ssize_t>(floats.shape(), floats.shape() + floats.ndim()));
    const auto count = static_cast<std::size_t>(floats.size());
    const float* in = floats.data();
    std::uint8_t* out = bytes.mutable_data();
    {
        const py::gil_scoped_release released;
        voxlumpy::bytesFromUnitValues(count, in, out);
    }
    return bytes;
}

// VolumeError: the node's message as the text, the loader's code as `code`.
py::handle volumeErrorType;

void translateFailures(std::exception_ptr thrown) {
    try {
        if (thrown) std::rethrow_exception(thrown);
    } catch (const voxlumpy::VolumeRefusal& refusal) {
        const py::object error =
            py::reinterpret_borrow<py::object>(volumeErrorType)(refusal.what());
        error.attr("code") = refusal.code() ? py::object(py::int_(*refusal.code())) : py::none();
        PyErr_SetObject(volumeErrorType.ptr(), error.ptr());
    } catch (const FormatError& failure) {
        PyErr_SetString(PyExc_OSError, failure.what());
    }
}

const char* const kModuleDoc = R"(Voxlum volumes as NumPy arrays, and the Voxlum node's own sampler.

A volume is 128 x 128 x 128 voxels of 3 (RGB) or 4 (RGBA) bytes; as arrays its voxels are
indexed [z, y, x, channel], so that x is fastest as in the file.)";

const char* const kVolumeErrorDoc = R"(A volume file the Voxlum node refuses.

The text is the error line the node shows in the host. `code` is the loader's negative code
(-1 open failed, -2 body too short, -3 no memory, -4 not "VOLU", -5 header too short,
-6 version, -7 encoding, -8 unsupported layout), or None when the name does not end in ".vol"
and the node refuses it before reading.)";

const char* const kVolumeDoc = R"(A volume read with voxlum.read: its voxels and the node's sampler.

Volumes do not change; any number of threads may sample one at once.)";

const char* const kChannelsDoc = "Bytes per voxel: 3 (RGB) or 4 (RGBA).";

const char* const kVoxelsDoc =
    R"(The voxels, shape (128, 128, 128, channels), uint8, indexed [z, y, x, channel].

A read-only view of the volume's own memory, not a copy: it keeps the volume alive and cannot be
made writeable. to_array() gives a copy to change.)";

const char* const kToArrayDoc =
    R"(A writeable copy of the voxels, shape (128, 128, 128, channels), uint8.)";

const char* const kSampleDoc =
    R"(The node's colour and alpha at each point, bit for bit what the plug-in renders.

points: shape (N, 3). float32 is used as it is; other float and integer types are converted to
    float32 first (a copy, rounded to nearest). Booleans and complex numbers raise TypeError,
    other shapes ValueError.
placement: None, or the node's 4x4 placementMatrix (row vectors, translation in the fourth row,
    converted to float32). With None the points are texture coordinates: every coordinate wraps
    with period 1 and a NaN or infinite one samples as 0. With a matrix they are world points,
    placed as the node places them, so that a NaN or infinite coordinate makes every placed
    coordinate NaN (the origin's colour, as in the node).
Returns float32 of shape (N, 4): r, g, b, a; a is 1 for RGB volumes. The interpreter lock is
released while sampling, so threads sampling at once run in parallel.)";

const char* const kReadDoc =
    R"(Reads a ".vol" file as the Voxlum node does when its file attribute is set.

path: str, bytes or os.PathLike. Raises VolumeError, with the node's message and the loader's
code, for every file the node refuses (including names that do not end in ".vol").)";

const char* const kWriteDoc = R"(Writes voxels to a ".vol" file as the voxlum tool writes volumes.

voxels: uint8, shape (128, 128, 128, 3) or (128, 128, 128, 4), indexed [z, y, x, channel],
    any strides. Floats raise TypeError (map them with from_float first), other types TypeError,
    other shapes ValueError.
The file appears whole or not at all: the bytes go to a temporary file in the same folder,
renamed over path when complete. Nothing is written when the voxels are refused; OSError when
the file cannot be written.)";

const char* const kFromFloatDoc =
    R"(Bytes from values whose range [0, 1] maps to 0..255, as voxlum convert maps them.

values: any shape, any floating-point type (converted to float32 first). Each value times 255,
rounded to nearest and clamped to 0..255; NaN gives 0. Returns uint8 of the same shape.
Integers raise TypeError.)";

}  // namespace

PYBIND11_MODULE(_voxlum, module) {
    module.doc() = kModuleDoc;
    module.attr("__version__") = VOXLUM_VERSION;

    const py::dict errorDefaults("code"_a = py::none());
    volumeErrorType = PyErr_NewExceptionWithDoc("voxlum.VolumeError", kVolumeErrorDoc,
                                                PyExc_Exception, errorDefaults.ptr());
    if (!volumeErrorType) throw py::error_already_set();
    module.attr("VolumeError") = volumeErrorType;
    py::register_exception_translator(translateFailures);

    py::class_<LoadedVolume> volume(module, "Volume", kVolumeDoc);
    volume.attr("__module__") = "voxlum";
    volume.def_property_readonly("channels", &LoadedVolume::channels, kChannelsDoc)
        .def_property_readonly("voxels", &readOnlyVoxels, kVoxelsDoc)
        .def("to_array", &voxelCopy, kToArrayDoc)
        .def("sample", &sampleVolume, "points"_a, "placement"_a = py::none(), kSampleDoc)
        .def("__repr__", [](const LoadedVolume& self) {
            return "<voxlum.Volume 128x128x128, " + std::to_string(self.channels()) + " channels>";
        });

    module.def("read", &readVolume, "path"_a, kReadDoc);
    module.def("write", &writeVolume, "path"_a, "voxels"_a, kWriteDoc);
    module.def("from_float", &bytesFromFloats, "values"_a, kFromFloatDoc);
    voxlumpy::defineToolFunctions(module);
}
