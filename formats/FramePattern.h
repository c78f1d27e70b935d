// Numbered file names, as image and simulation tools write frame sequences and slice stacks.
// A run of '#' or '@' has one digit per character ("####" is four digits, "@@@" three, "#@"
// two), except that a lone '#' stands for four digits, as in the host's image tools; a lone '@'
// is one. printf's %d, %Nd and %0Nd are understood too. Numbers narrower than the field are
// padded with zeros (with spaces for %Nd); wider ones are written in full.
//
// Earlier releases gave every '#' of a run four digits ("##" was eight). Names are written only
// with the widths above, but inputs named the earlier way are still read (inputNameOf,
// numbersOnDisk).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class NumberedName {
  public:
    // The field of `text`: its run of '#' and '@' if it has one, else its first printf field.
    // Another field after it stays in the text, so "f.####/slice_%03d.png" names a slice
    // pattern per frame. nullopt when `text` has no field; throws OptionError when the field is
    // wider than a file name can be.
    static std::optional<NumberedName> find(const std::string& text);

    // The name of file `number`, as outputs are written.
    std::string nameOf(int number) const;

    // The file to read for `number`: nameOf(number), unless no such file exists but one named
    // with the run's earlier width does.
    std::string inputNameOf(int number) const;

    // The numbers of the existing files this name matches at either width, ascending. The field
    // must lie in the file name, not in a folder above it; throws FormatError otherwise.
    std::vector<int> numbersOnDisk() const;

    const std::string& text() const { return text_; }

  private:
    std::string digitsOf(int number, std::size_t width) const;

    std::string text_;
    std::string prefix_;
    std::string suffix_;
    std::size_t width_ = 0;
    // What earlier releases made of the same field; equal to width_ where they agree.
    std::size_t legacyWidth_ = 0;
    char pad_ = '0';
};

// Frames as "1001-1100", "7", "1-100x4" (every fourth), or a comma-separated list of these:
// in the order given, each once. Throws OptionError naming `text` when it is malformed.
std::vector<int> parseFrameList(const std::string& text);
