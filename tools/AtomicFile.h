// Output files appear complete or not at all, whatever goes wrong while they are written.
#pragma once

#include <functional>
#include <string>

// Calls `write` with a temporary path in the folder of `path`, then renames that file over
// `path`. If `write` throws, or the rename fails, the temporary file is removed and a
// ToolError naming `path` is thrown.
void replaceFileAtomically(const std::string& path,
                           const std::function<void(const std::string& temporaryPath)>& write);

// "cannot write (<the system's description of errno>)".
std::string cannotWrite(int error);
