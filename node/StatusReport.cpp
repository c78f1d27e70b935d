#include "StatusReport.h"

#include <maya/MIOStream.h>

#include <cstring>
#include <iostream>

namespace {

// The report names the source file, not the build machine's folder it was compiled from.
const char* fileNameOf(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\') name = c + 1;
    }
    return name;
}

}  // namespace

void reportFailedStatus(const MStatus& status, const char* sourceFile, int line) {
    std::cerr << "\nAPI error detected in " << fileNameOf(sourceFile) << " at line " << line
              << std::endl;
    status.perror("");
}
