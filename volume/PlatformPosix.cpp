#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <type_traits>

#include "Platform.h"

#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#endif

namespace platform {

FileHandle openRegularFile(const char* path, std::int64_t& size) {
    // Opening some devices already does something (a terminal may become the controlling
    // one), so non-regular files are refused by name first; fstat below catches a swap.
    struct stat named;
    if (::stat(path, &named) != 0 || !S_ISREG(named.st_mode)) return nullptr;
    // O_NONBLOCK keeps the open of a FIFO without a writer from waiting forever.
    const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    struct stat info;
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return nullptr;
    }
    FileHandle file(::fdopen(descriptor, "rb"));
    if (!file) {
        ::close(descriptor);
        return nullptr;
    }
    size = info.st_size;
    return file;
}

std::int64_t currentSize(std::FILE* file) {
    struct stat info;
    return ::fstat(::fileno(file), &info) == 0 ? info.st_size : -1;
}

namespace {
std::atomic<bool> logStreamHeld{false};
}  // namespace

std::FILE* openLogStream() {
    if (logStreamHeld.exchange(true)) return nullptr;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    // The folder is shared with other users: never follow a link planted under that name.
    const int descriptor =
        error ? -1
              : ::open((folder / "volume-log.txt").c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    std::FILE* stream = descriptor < 0 ? nullptr : ::fdopen(descriptor, "w");
    if (stream == nullptr) {
        if (descriptor >= 0) ::close(descriptor);
        logStreamHeld = false;
    }
    return stream;
}

void closeLogStream(std::FILE* stream) {
    std::fclose(stream);
    logStreamHeld = false;
}

// Old kernels and seccomp filters refuse membarrier; macOS has none.
#if defined(__linux__)
namespace {
bool registerMembarrier() {
    const long commands = ::syscall(__NR_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
    return commands > 0 && (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0 &&
           ::syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}
}  // namespace

bool processBarrierAvailable() {
    static const bool available = registerMembarrier();
    return available;
}

// Once registered, the expedited command cannot fail.
void processBarrier() { ::syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0); }
#else
bool processBarrierAvailable() { return false; }

void processBarrier() {}
#endif

// A key rather than a thread_local destructor, which would keep the module loaded while any
// thread that used it lives; the module deletes the key when it is unloaded.
static_assert(std::is_integral_v<pthread_key_t> && sizeof(pthread_key_t) <= sizeof(std::uintptr_t),
              "a key fits the hook's slot");

ThreadExitHook::ThreadExitHook(Release release) : key_(0), hasKey_(false) {
    pthread_key_t key;
    hasKey_ = ::pthread_key_create(&key, release) == 0;
    if (hasKey_) key_ = static_cast<std::uintptr_t>(key);
}

ThreadExitHook::~ThreadExitHook() {
    if (hasKey_) ::pthread_key_delete(static_cast<pthread_key_t>(key_));
}

std::uintptr_t ThreadExitHook::watchCurrentThread(void* value) {
    if (hasKey_) ::pthread_setspecific(static_cast<pthread_key_t>(key_), value);
    return 0;
}

// Every thread here is released by the key, so no mark is ever handed out.
std::uintptr_t markCurrentThread() { return 0; }

bool threadHasEnded(std::uintptr_t) { return false; }

void forgetThread(std::uintptr_t) {}

}  // namespace platform
