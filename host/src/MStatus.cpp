// MStatus: the description of each status code.
#include <maya/MStatus.h>
#include <maya/MString.h>

#include <cstdio>

MString MStatus::errorString() const {
    switch (code_) {
        case kSuccess:
            return "Success";
        case kFailure:
            return "Unexpected Internal Failure";
        case kInsufficientMemory:
            return "Insufficient Memory";
        case kInvalidParameter:
            return "Invalid Parameter";
        case kLicenseFailure:
            return "License Failure";
        case kUnknownParameter:
            return "Unknown Parameter";
        case kNotImplemented:
            return "Not Implemented";
        case kNotFound:
            return "Object not found";
        case kEndOfFile:
            return "End of File";
    }
    return "Unknown status code";
}

void MStatus::perror(const char* prefix) const {
    if (prefix == nullptr || *prefix == '\0') {
        std::fprintf(stderr, "%s\n", errorString().asChar());
    } else {
        std::fprintf(stderr, "%s: %s\n", prefix, errorString().asChar());
    }
}
void MStatus::perror(const MString& prefix) const { perror(prefix.asChar()); }
