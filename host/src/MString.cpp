// MString: the host's 8-bit string, and numbers appended to it as the host prints them.
#include <maya/MString.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace {

// Shortest text that reads back as the same number; whole numbers print without a fraction
// ("4", not "4.000000"), as the host's script output shows them.
template <class Number>
Number parseNumber(const char* text) {
    if constexpr (std::is_same_v<Number, float>) {
        return std::strtof(text, nullptr);
    } else {
        return std::strtod(text, nullptr);
    }
}

template <class Number>
std::string formatNumber(Number number) {
    constexpr int kMaxDigits = sizeof(Number) == sizeof(float) ? 9 : 17;
    constexpr double kLargestExactWhole = 1e15;
    char text[40];
    if (std::isfinite(number) && std::trunc(number) == number &&
        std::fabs(number) < kLargestExactWhole) {
        // Adding 0.0 turns -0 into 0.
        std::snprintf(text, sizeof text, "%.0f", static_cast<double>(number) + 0.0);
        return text;
    }
    for (int digits = 1; digits <= kMaxDigits; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(number));
        if (!std::isfinite(number) || parseNumber<Number>(text) == number) {
            break;
        }
    }
    return text;
}

}  // namespace

MString::MString() = default;
MString::MString(const char* text) : text_(text != nullptr ? text : "") {}
MString::MString(const MString& other) = default;
MString& MString::operator=(const MString& other) = default;
MString::~MString() = default;

unsigned int MString::length() const { return static_cast<unsigned int>(text_.size()); }

MString MString::substring(int start, int end) const {
    const int last = static_cast<int>(text_.size()) - 1;
    if (start < 0) {
        start = 0;
    }
    if (end > last) {
        end = last;
    }
    MString result;
    if (start <= end) {
        result.text_ = text_.substr(static_cast<std::size_t>(start),
                                    static_cast<std::size_t>(end - start + 1));
    }
    return result;
}

const char* MString::asChar() const { return text_.c_str(); }

bool MString::operator==(const char* other) const {
    return text_ == (other != nullptr ? other : "");
}
bool MString::operator!=(const char* other) const { return !(*this == other); }

MString MString::operator+(const MString& other) const {
    MString result(*this);
    return result += other;
}
MString MString::operator+(const char* other) const {
    MString result(*this);
    return result += other;
}
MString MString::operator+(double number) const {
    MString result(*this);
    return result += number;
}

MString& MString::operator+=(const MString& other) {
    text_ += other.text_;
    return *this;
}
MString& MString::operator+=(const char* other) {
    if (other != nullptr) {
        text_ += other;
    }
    return *this;
}
MString& MString::operator+=(double number) {
    text_ += formatNumber(number);
    return *this;
}
MString& MString::operator+=(int number) {
    text_ += std::to_string(number);
    return *this;
}
MString& MString::operator+=(unsigned int number) {
    text_ += std::to_string(number);
    return *this;
}
MString& MString::operator+=(float number) {
    text_ += formatNumber(number);
    return *this;
}
