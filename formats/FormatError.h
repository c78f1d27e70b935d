// A failure the caller must act on, as one line: what it concerns (usually a file), then what
// is wrong with it.
#pragma once

#include <stdexcept>
#include <string>

class FormatError : public std::runtime_error {
  public:
    FormatError(const std::string& subject, const std::string& problem)
        : std::runtime_error(subject + ": " + problem), subject_(subject), problem_(problem) {}

    const std::string& subject() const { return subject_; }
    // What is wrong, without the subject.
    const std::string& problem() const { return problem_; }

  private:
    std::string subject_;
    std::string problem_;
};

// Options that cannot work, alone or with the input they are given. The subject is the option
// as the command line spells it ("--bounds", "--grid density"); the Python module names the
// keyword argument of the same name instead.
class OptionError : public FormatError {
  public:
    using FormatError::FormatError;
};
