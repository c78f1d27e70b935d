// The exit statuses of every voxlum command, as scripts test them.
#pragma once

enum ExitCode : int {
    kExitSuccess = 0,
    // A file was refused, an input was bad, or every frame of a sequence failed.
    kExitFailure = 1,
    // The command line itself is malformed.
    kExitUsage = 2,
    // Some frames of a sequence failed and the others were done.
    kExitPartialFailure = 3,
    // `compare` found the volumes further apart than tolerated.
    kExitOverTolerance = 4,
};
