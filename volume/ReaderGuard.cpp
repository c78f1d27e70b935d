#include "ReaderGuard.h"

#include <new>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif
#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace readerguard {
namespace {

// Whether the process-wide barrier is there, decided once: readers skip their fence only if
// every load can issue it. Old kernels and seccomp filters refuse membarrier; macOS has none.
#if defined(__linux__)
bool registerHeavyBarrier() {
    const long commands = ::syscall(__NR_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
    return commands > 0 && (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0 &&
           ::syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

// Once registered, the expedited command cannot fail.
void heavyBarrier() { ::syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0); }
#elif defined(_WIN32)
// Wine (8 at least) lets FlushProcessWriteBuffers return without doing anything.
bool registerHeavyBarrier() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

void heavyBarrier() { ::FlushProcessWriteBuffers(); }
#else
bool registerHeavyBarrier() { return false; }

void heavyBarrier() {}
#endif

bool heavyBarrierAvailable() {
    static const bool available = registerHeavyBarrier();
    return available;
}

void releaseRecord(ThreadRecord& record) {
    if (currentRecord == &record) currentRecord = nullptr;
    record.claimed.store(false, std::memory_order_release);
}

#if defined(_WIN32)
void WINAPI releaseAtThreadExit(void* record) {
    releaseRecord(*static_cast<ThreadRecord*>(record));
}
#else
void releaseAtThreadExit(void* record) { releaseRecord(*static_cast<ThreadRecord*>(record)); }
#endif

// Every record the module has handed out, reused as threads end. A thread-exit hook releases
// a thread's record; it is a key the module deletes when it is unloaded rather than a
// thread_local destructor, which would keep the module loaded while any reading thread lives.
class RecordList {
  public:
#if defined(_WIN32)
    RecordList() : exitHook_(::FlsAlloc(releaseAtThreadExit)) {}
    ~RecordList() {
        if (exitHook_ != FLS_OUT_OF_INDEXES) ::FlsFree(exitHook_);
        freeRecords();
    }
#else
    RecordList() : hasExitHook_(::pthread_key_create(&exitHook_, releaseAtThreadExit) == 0) {}
    ~RecordList() {
        if (hasExitHook_) ::pthread_key_delete(exitHook_);
        freeRecords();
    }
#endif
    RecordList(const RecordList&) = delete;
    RecordList& operator=(const RecordList&) = delete;

    const ThreadRecord* first() const { return head_.load(std::memory_order_acquire); }

    // A free record, or null if memory is exhausted.
    ThreadRecord* claim() {
        for (ThreadRecord* record = head_.load(std::memory_order_acquire); record != nullptr;
             record = record->next) {
            if (!record->claimed.load(std::memory_order_relaxed) &&
                !record->claimed.exchange(true, std::memory_order_acquire))
                return record;
        }
        auto* record = new (std::nothrow) ThreadRecord;
        if (record == nullptr) return nullptr;
        record->claimed.store(true, std::memory_order_relaxed);
        record->next = head_.load(std::memory_order_relaxed);
        while (!head_.compare_exchange_weak(record->next, record, std::memory_order_release,
                                            std::memory_order_relaxed)) {
        }
        return record;
    }

    // Without the hook the thread keeps its record for good: still correct, only not reused.
    void releaseAtExit(ThreadRecord& record) {
#if defined(_WIN32)
        if (exitHook_ != FLS_OUT_OF_INDEXES) ::FlsSetValue(exitHook_, &record);
#else
        if (hasExitHook_) ::pthread_setspecific(exitHook_, &record);
#endif
    }

  private:
    void freeRecords() {
        for (ThreadRecord* record = head_.load(); record != nullptr;) {
            ThreadRecord* const next = record->next;
            delete record;
            record = next;
        }
    }

    std::atomic<ThreadRecord*> head_{nullptr};
#if defined(_WIN32)
    DWORD exitHook_;
#else
    bool hasExitHook_;
    pthread_key_t exitHook_;
#endif
};

RecordList& records() {
    static RecordList list;
    return list;
}

}  // namespace

ThreadRecord& registerThread() {
    const bool fenceOnEntry = !heavyBarrierAvailable();
    RecordList& list = records();
    ThreadRecord* record = list.claim();
    // Out of memory: a record comes free when another reading thread ends.
    while (record == nullptr) {
        std::this_thread::yield();
        record = list.claim();
    }
    record->fenceOnEntry = fenceOnEntry;
    list.releaseAtExit(*record);
    currentRecord = record;
    return *record;
}

void waitForReaders() {
    // Pairs with the readers' fence where there is no process-wide barrier.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (heavyBarrierAvailable()) heavyBarrier();
    for (const ThreadRecord* record = records().first(); record != nullptr; record = record->next) {
        const std::uint32_t seen = record->sequence.load(std::memory_order_acquire);
        if (seen % 2 == 0) continue;
        while (record->sequence.load(std::memory_order_acquire) == seen) std::this_thread::yield();
    }
}

}  // namespace readerguard
