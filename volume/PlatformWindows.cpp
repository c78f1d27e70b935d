#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cstring>

#include "Platform.h"

// Built for Windows XP in the 32-bit build: what XP lacks is looked up at run time, so the
// module imports nothing XP's loader would refuse.
namespace platform {
namespace {

// `name` from kernel32, or null where this Windows lacks it.
template <class Function>
Function kernelFunction(const char* name) {
    const FARPROC address = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name);
    Function function;
    static_assert(sizeof function == sizeof address, "a function address is a pointer");
    std::memcpy(&function, &address, sizeof function);
    return function;
}

}  // namespace

// Others may read the file meanwhile, not write it. (fopen_s would share it the same way, but
// XP's msvcrt has no fopen_s.)
FileHandle openRegularFile(const char* path, std::int64_t& size) {
    FileHandle file(_fsopen(path, "rb", _SH_DENYWR));
    if (!file) return nullptr;
    struct _stat64 info;
    if (_fstat64(_fileno(file.get()), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG)
        return nullptr;
    size = info.st_size;
    return file;
}

std::int64_t currentSize(std::FILE* file) {
    struct _stat64 info;
    return _fstat64(_fileno(file), &info) == 0 ? info.st_size : -1;
}

// Opened without sharing, which is what keeps other stores from holding it at the same time.
// The sharing mode is explicit: fopen_s denies sharing only in Microsoft's runtime, not in
// every msvcrt.
std::FILE* openLogStream() { return _fsopen("C:\\temp\\volume-log.txt", "wt", _SH_DENYRW); }

void closeLogStream(std::FILE* stream) { std::fclose(stream); }

namespace {

using FlushProcessWriteBuffersFunction = void(WINAPI*)();

// Vista and later; Wine (8 at least) has it but lets it return without doing anything.
FlushProcessWriteBuffersFunction findProcessBarrier() {
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr)
        return nullptr;
    return kernelFunction<FlushProcessWriteBuffersFunction>("FlushProcessWriteBuffers");
}

FlushProcessWriteBuffersFunction processBarrierFunction() {
    static const FlushProcessWriteBuffersFunction function = findProcessBarrier();
    return function;
}

}  // namespace

bool processBarrierAvailable() { return processBarrierFunction() != nullptr; }

void processBarrier() { processBarrierFunction()(); }

namespace {

// Fibre-local storage, Vista and later, calls back as a thread ends, also in a module loaded
// after the thread started (thread-local storage callbacks do not run for those on XP).
using FlsCallback = void(WINAPI*)(void* value);
using FlsAllocFunction = DWORD(WINAPI*)(FlsCallback callback);
using FlsSetValueFunction = BOOL(WINAPI*)(DWORD index, void* value);
using FlsFreeFunction = BOOL(WINAPI*)(DWORD index);
constexpr DWORD kNoFlsIndex = 0xFFFFFFFF;

struct FiberStorage {
    FlsAllocFunction alloc = kernelFunction<FlsAllocFunction>("FlsAlloc");
    FlsSetValueFunction setValue = kernelFunction<FlsSetValueFunction>("FlsSetValue");
    FlsFreeFunction free = kernelFunction<FlsFreeFunction>("FlsFree");
    bool available() const { return alloc != nullptr && setValue != nullptr && free != nullptr; }
};

const FiberStorage& fiberStorage() {
    static const FiberStorage functions;
    return functions;
}

// The library makes one hook, so its release function can live here; the system calls back
// with its own calling convention.
ThreadExitHook::Release hookRelease = nullptr;

void WINAPI releaseAtThreadExit(void* value) { hookRelease(value); }

}  // namespace

ThreadExitHook::ThreadExitHook(Release release) : key_(kNoFlsIndex), hasKey_(false) {
    hookRelease = release;
    if (fiberStorage().available()) {
        key_ = fiberStorage().alloc(releaseAtThreadExit);
        hasKey_ = key_ != kNoFlsIndex;
    }
}

ThreadExitHook::~ThreadExitHook() {
    if (hasKey_) fiberStorage().free(static_cast<DWORD>(key_));
}

// Without fibre-local storage the mark is a handle of the thread, signalled once it has ended.
// If even that cannot be had, the thread keeps its value for good.
std::uintptr_t ThreadExitHook::watchCurrentThread(void* value) {
    if (hasKey_) {
        fiberStorage().setValue(static_cast<DWORD>(key_), value);
        return 0;
    }
    return markCurrentThread();
}

std::uintptr_t markCurrentThread() {
    HANDLE thread = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                           &thread, SYNCHRONIZE, FALSE, 0))
        return 0;
    return reinterpret_cast<std::uintptr_t>(thread);
}

bool threadHasEnded(std::uintptr_t mark) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(mark), 0) == WAIT_OBJECT_0;
}

void forgetThread(std::uintptr_t mark) { ::CloseHandle(reinterpret_cast<HANDLE>(mark)); }

}  // namespace platform
