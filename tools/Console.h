// What the commands print besides their results: error lines, the progress bar and how much
// to say.
#pragma once

#include <string>

struct Verbosity {
    bool quiet = false;    // only errors, and results asked for such as --json
    bool verbose = false;  // also what each step read and wrote
};

// "voxlum: error: <message>" on stderr, the one form every failure takes.
void printError(const std::string& message);
// "voxlum: warning: <message>" on stderr: something the user should know of, done anyway.
void printWarning(const std::string& message);

// A bar redrawn in place on stderr, drawn only when stderr is a terminal and `wanted` holds,
// so that logs and pipes never see it. Erased when destroyed.
class ProgressBar {
  public:
    ProgressBar(std::string label, bool wanted);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // `done` is the fraction finished; `detail` follows the percentage.
    void update(double done, const std::string& detail = "");
    // Erases the bar so that another line can be printed; the next update draws it again.
    void erase();

  private:
    std::string label_;
    bool shown_;
    bool drawn_ = false;
};
