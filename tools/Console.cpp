#include "Console.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>

namespace {

constexpr int kBarWidth = 40;

// After what standard output holds so far, so that the two streams read in order on a terminal.
void printLine(const char* kind, const std::string& message) {
    std::cout.flush();
    std::cerr << "voxlum: " << kind << ": " << message << '\n';
}

}  // namespace

void printError(const std::string& message) { printLine("error", message); }

void printWarning(const std::string& message) { printLine("warning", message); }

ProgressBar::ProgressBar(std::string label, bool wanted)
    : label_(std::move(label)), shown_(wanted && ::isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() { erase(); }

void ProgressBar::update(double done, const std::string& detail) {
    if (!shown_) return;
    const int filled = std::clamp(static_cast<int>(done * kBarWidth), 0, kBarWidth);
    std::cerr << '\r' << label_ << " [" << std::string(std::size_t(filled), '#')
              << std::string(std::size_t(kBarWidth - filled), '.') << "] "
              << static_cast<int>(done * 100) << '%' << (detail.empty() ? "" : " ") << detail
              << std::flush;
    drawn_ = true;
}

void ProgressBar::erase() {
    if (!drawn_) return;
    std::cerr << "\r\033[K" << std::flush;
    drawn_ = false;
}
