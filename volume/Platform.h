// The few operations of the volume library that differ between POSIX systems and Windows.
// Internal to the library; PlatformPosix.cpp or PlatformWindows.cpp implements them, chosen by
// the build.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace platform {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for binary reading only if it names a regular file, and reports its size.
// Directories, FIFOs, consoles and devices are refused before anything is read from them,
// so a scene naming one can neither block nor stream endless bytes into the loader.
FileHandle openRegularFile(const char* path, std::int64_t& size);

// The size of the open file now, or -1 if it cannot be told.
std::int64_t currentSize(std::FILE* file);

// The store's log: created (or emptied) when a store opens it, never written. One store at a
// time holds it and the others go without, so a scene of many nodes holds one file at most.
std::FILE* openLogStream();
void closeLogStream(std::FILE* stream);

// A barrier that makes every thread's earlier stores visible to the caller, so that readers
// need no fence of their own. Decided once per process: where it is missing (old kernels,
// sandboxes, Wine, Windows XP), readers fence for themselves.
bool processBarrierAvailable();
// Only called where it is available.
void processBarrier();

// Releases a per-thread value when its thread ends. Where the system calls back as a thread
// ends, `release` runs then, on that thread. Windows XP has no such call for code in a module
// it loads late, so there the value is instead tied to a mark of its thread, and a thread that
// looks for a free value takes over those whose thread has ended.
class ThreadExitHook {
  public:
    using Release = void (*)(void* value);
    explicit ThreadExitHook(Release release);
    ~ThreadExitHook();
    ThreadExitHook(const ThreadExitHook&) = delete;
    ThreadExitHook& operator=(const ThreadExitHook&) = delete;

    // Arranges for the calling thread's `value` to be released. Returns 0 when the system will
    // call back (or, if it cannot, the thread keeps the value for good), otherwise a mark of the
    // calling thread for threadHasEnded and forgetThread.
    std::uintptr_t watchCurrentThread(void* value);

  private:
    std::uintptr_t key_;
    bool hasKey_;
};

// A mark of the calling thread, or 0 where threads need none (or none can be had).
std::uintptr_t markCurrentThread();
// Whether the thread that `mark` stands for has ended.
bool threadHasEnded(std::uintptr_t mark);
// Gives back what a mark holds; the mark is not used again.
void forgetThread(std::uintptr_t mark);

}  // namespace platform
