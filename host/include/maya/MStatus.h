// Result of a host operation.
#pragma once

#include <maya/MTypes.h>

class MString;

class MStatus {
  public:
    enum MStatusCode {
        kSuccess = 0,
        kFailure,
        kInsufficientMemory,
        kInvalidParameter,
        kLicenseFailure,
        kUnknownParameter,
        kNotImplemented,
        kNotFound,
        kEndOfFile
    };

    // Inline: statuses are made and tested on every evaluation.
    MStatus() : code_(kSuccess) {}
    MStatus(MStatusCode code) : code_(code) {}

    bool operator==(const MStatus& other) const { return code_ == other.code_; }
    bool operator==(MStatusCode code) const { return code_ == code; }
    bool operator!=(const MStatus& other) const { return code_ != other.code_; }
    bool operator!=(MStatusCode code) const { return code_ != code; }
    operator bool() const { return code_ == kSuccess; }

    MStatusCode statusCode() const { return code_; }
    MString errorString() const;
    void perror(const char* prefix) const;
    void perror(const MString& prefix) const;

  private:
    MStatusCode code_;
};

typedef MStatus MS;
