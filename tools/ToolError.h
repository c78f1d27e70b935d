// A failure the user must act on, reported as one line: what it concerns (usually a file),
// then what is wrong with it.
#pragma once

#include <stdexcept>
#include <string>

class ToolError : public std::runtime_error {
  public:
    ToolError(const std::string& subject, const std::string& problem)
        : std::runtime_error(subject + ": " + problem), problem_(problem) {}

    // What is wrong, without the subject.
    const std::string& problem() const { return problem_; }

  private:
    std::string problem_;
};

// A command line whose parts do not fit together, found only once the command runs.
class UsageError : public ToolError {
  public:
    using ToolError::ToolError;
};
