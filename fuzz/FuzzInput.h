// How the fuzz targets read their input bytes, shared with the seed-corpus generator so that
// the seeds it writes decode exactly as the targets expect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fuzzinput {

// Hands out values from the input front to back; past the end every byte reads as zero, so any
// input, however short, decodes to something.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }

    template <class T>
    T take() {
        unsigned char bytes[sizeof(T)] = {};
        for (unsigned char& byte : bytes) byte = position_ < size_ ? data_[position_++] : 0;
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    // Up to `count` bytes, fewer when the input ends first.
    std::vector<std::uint8_t> takeBytes(std::size_t count) {
        const std::size_t available = position_ < size_ ? size_ - position_ : 0;
        const std::size_t n = count < available ? count : available;
        std::vector<std::uint8_t> bytes(data_ + position_, data_ + position_ + n);
        position_ += n;
        return bytes;
    }

    std::vector<std::uint8_t> rest() { return takeBytes(size_); }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// The inverse of ByteReader, for the generator.
class ByteWriter {
  public:
    template <class T>
    ByteWriter& put(T value) {
        unsigned char bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof bytes);
        bytes_.insert(bytes_.end(), bytes, bytes + sizeof bytes);
        return *this;
    }
    ByteWriter& putBytes(const std::vector<std::uint8_t>& bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// fuzz_loader: a flags byte, kLoaderPoints sample points of three floats, then the file.
namespace loader {
enum Flags : std::uint8_t {
    // Load into a store that already holds a known volume (otherwise into a new, empty store).
    kIntoLoadedStore = 1,
    // Zero-extend the file to the length its header declares, so inputs of a few kilobytes
    // reach complete bodies too.
    kExtendToDeclaredBody = 2,
    // With kExtendToDeclaredBody: stop one byte short of it.
    kOneByteShort = 4,
};
constexpr int kPoints = 4;
// Extension is only done for this many channels at most, which bounds a load to 16 MiB.
constexpr std::int32_t kMaxExtendedChannels = 8;
}  // namespace loader

// fuzz_node: a sequence of operations, each an opcode byte and its operands.
namespace node {
enum Op : std::uint8_t {
    kSetGeneratedFile,  // index byte into kGeneratedFiles
    kSetName,           // length byte (bit 7: append ".vol"), then that many bytes (up to 127)
    kSetPoint,          // 3 floats
    kSetMatrix,         // 16 floats
    kSetHasAlpha,       // 1 byte
    kReadOutputs,       // no operands
    kRecreateNode,      // no operands
    kOpCount
};
constexpr std::uint8_t kAppendExtension = 0x80;

// Names made in the target's scratch folder before the first input runs.
inline const std::vector<std::string>& generatedFiles() {
    static const std::vector<std::string> names = {
        "rgba.vol",          // good, 4 channels
        "rgb.vol",           // good, 3 channels
        "short-body.vol",    // body cut short
        "short-header.vol",  // header cut short
        "bad-magic.vol",     // full header, wrong magic
        "folder.vol",        // a directory
        "pipe.vol",          // a FIFO without a writer
        "zero.vol",          // a link to /dev/zero
        "missing.vol",       // nothing there
        "rgba.VOL",          // refused by its name
    };
    return names;
}
}  // namespace node

// fuzz_tool_input: a byte choosing the parser, then that parser's text or bytes. A new parser
// takes the next value; a byte that names none is ignored, so stored inputs keep their meaning.
namespace toolinput {
enum Parser : std::uint8_t {
    kFrameList,     // the text of --frames
    kNumberedName,  // a file name with a frame field
    kForeignGrid,   // a Mitsuba-style grid file
    kGridMap,       // the values of --grid, one per word
    kBounds,        // the words of --bounds
    kIndexBounds,   // the words of --index-bounds
    kRanges,        // occurrences of --range, split at ';', each its words
};
}  // namespace toolinput

[[noreturn]] inline void fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace fuzzinput

// Aborts (a finding for libFuzzer) when an invariant does not hold.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzzinput::fail(#condition, __FILE__, __LINE__))
