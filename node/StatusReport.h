// The report written when a host call fails during set-up: the work goes on, so the user at
// least learns where it failed. Newer devkits' own check macro no longer prints this.
#pragma once

#include <maya/MStatus.h>

void reportFailedStatus(const MStatus& status, const char* sourceFile, int line);

#define VOXLUM_CHECK_STATUS(expression)                                  \
    do {                                                                 \
        const MStatus voxlumCheckedStatus = (expression);                \
        if (voxlumCheckedStatus != MS::kSuccess)                         \
            reportFailedStatus(voxlumCheckedStatus, __FILE__, __LINE__); \
    } while (false)
