#include "FramePattern.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "FormatError.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kDigitsPerHash = 4;
// Frame numbers and field widths stay well inside an int.
constexpr std::size_t kMaxDigits = 9;
// File systems take no longer file name, so no wider field can name a file.
constexpr std::size_t kMaxFieldWidth = 255;
// A typing slip such as 1-10000000 should fail at once rather than list ten million frames.
constexpr long kMaxFrames = 1000000;

bool isDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The printf field starting at `percent` ("%d", "%4d", "%04d"): its length, or 0 if there is
// none there.
std::size_t printfFieldLength(const std::string& text, std::size_t percent) {
    std::size_t at = percent + 1;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    return at < text.size() && text[at] == 'd' ? at + 1 - percent : 0;
}

int parseFrameNumber(const std::string& digits, const std::string& list) {
    if (!isDigits(digits) || digits.size() > kMaxDigits)
        throw OptionError("--frames " + list,
                          "expected frames such as 1001-1100, 7, 1-100x4 or 1,5,9 (\"" + digits +
                              "\" is not a frame number)");
    return std::stoi(digits);
}

}  // namespace

std::optional<NumberedName> NumberedName::find(const std::string& text) {
    NumberedName name;
    name.text_ = text;
    const std::size_t run = text.find_first_of("#@");
    if (run != std::string::npos) {
        const std::size_t end = std::min(text.find_first_not_of("#@", run), text.size());
        const auto hashes = std::size_t(std::count(text.begin() + std::ptrdiff_t(run),
                                                   text.begin() + std::ptrdiff_t(end), '#'));
        name.legacyWidth_ = hashes * kDigitsPerHash + (end - run - hashes);
        // A lone '#' keeps its four digits; a longer run has one digit per character.
        name.width_ = end - run == 1 ? name.legacyWidth_ : end - run;
        name.prefix_ = text.substr(0, run);
        name.suffix_ = text.substr(end);
    } else {
        std::size_t percent = text.find('%');
        std::size_t length = 0;
        while (percent != std::string::npos && (length = printfFieldLength(text, percent)) == 0)
            percent = text.find('%', percent + 1);
        if (percent == std::string::npos) return std::nullopt;
        const std::string widthText = text.substr(percent + 1, length - 2);
        name.pad_ = widthText.size() > 1 && widthText[0] == '0' ? '0' : ' ';
        name.width_ =
            widthText.empty() ? 0 : std::size_t(std::stoul(widthText.substr(0, kMaxDigits)));
        name.legacyWidth_ = name.width_;
        name.prefix_ = text.substr(0, percent);
        name.suffix_ = text.substr(percent + length);
    }
    if (name.width_ > kMaxFieldWidth)
        throw OptionError(
            text, "a frame field is at most " + std::to_string(kMaxFieldWidth) + " digits wide");
    return name;
}

std::string NumberedName::digitsOf(int number, std::size_t width) const {
    std::string digits = std::to_string(number);
    if (digits.size() < width) digits.insert(0, width - digits.size(), pad_);
    return digits;
}

std::string NumberedName::nameOf(int number) const {
    return prefix_ + digitsOf(number, width_) + suffix_;
}

std::string NumberedName::inputNameOf(int number) const {
    const std::string name = nameOf(number);
    if (legacyWidth_ == width_) return name;
    std::error_code error;
    if (fs::exists(name, error)) return name;
    const std::string legacyName = prefix_ + digitsOf(number, legacyWidth_) + suffix_;
    return fs::exists(legacyName, error) ? legacyName : name;
}

std::vector<int> NumberedName::numbersOnDisk() const {
    const fs::path prefixPath(prefix_);
    if (suffix_.find('/') != std::string::npos)
        throw FormatError(text_,
                          "the frame field is in a folder name; list the frames with --frames");
    const std::string namePrefix = prefix_.substr(prefix_.rfind('/') + 1);
    const fs::path folder = prefixPath.has_filename() ? prefixPath.parent_path() : prefixPath;
    std::error_code error;
    std::set<int> numbers;
    for (fs::directory_iterator entry(folder.empty() ? fs::path(".") : folder, error), end;
         !error && entry != end; entry.increment(error)) {
        const std::string file = entry->path().filename().string();
        if (file.size() <= namePrefix.size() + suffix_.size() || file.rfind(namePrefix, 0) != 0 ||
            file.compare(file.size() - suffix_.size(), suffix_.size(), suffix_) != 0)
            continue;
        const std::string digits =
            file.substr(namePrefix.size(), file.size() - namePrefix.size() - suffix_.size());
        // The digits without their padding, keeping at least one ("0000" is 0).
        const std::string number =
            digits.substr(std::min(digits.find_first_not_of(pad_), digits.size() - 1));
        if (!isDigits(number) || number.size() > kMaxDigits) continue;
        // Only a name the pattern itself gives a number, at either width: "1001" for ####, not
        // "01001".
        const int value = std::stoi(number);
        if (digitsOf(value, width_) == digits || digitsOf(value, legacyWidth_) == digits)
            numbers.insert(value);
    }
    return {numbers.begin(), numbers.end()};
}

std::vector<int> parseFrameList(const std::string& text) {
    std::vector<int> frames;
    std::set<int> seen;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        start = comma + 1;
        const std::size_t dash = item.find('-');
        const std::size_t times = item.find('x');
        const int first = parseFrameNumber(item.substr(0, std::min(dash, times)), text);
        int last = first;
        int step = 1;
        if (dash != std::string::npos) {
            last = parseFrameNumber(item.substr(dash + 1, times - std::min(times, dash + 1)), text);
            if (times != std::string::npos) step = parseFrameNumber(item.substr(times + 1), text);
        } else if (times != std::string::npos) {
            throw OptionError("--frames " + text, "a step needs a range, as in 1-100x4");
        }
        if (last < first || step < 1)
            throw OptionError("--frames " + text,
                              "a range runs from low to high by a step of 1 or more");
        if ((long(last) - first) / step + long(frames.size()) >= kMaxFrames)
            throw OptionError("--frames " + text,
                              "lists more than " + std::to_string(kMaxFrames) + " frames");
        for (long frame = first; frame <= last; frame += step)
            if (seen.insert(int(frame)).second) frames.push_back(int(frame));
    }
    return frames;
}
