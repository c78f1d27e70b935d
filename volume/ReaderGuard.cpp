#include "ReaderGuard.h"

#include <mutex>
#include <new>
#include <thread>

#include "Platform.h"

namespace readerguard {
namespace {

void releaseRecord(void* value) {
    auto& record = *static_cast<ThreadRecord*>(value);
    if (currentRecord == &record) currentRecord = nullptr;
    record.claimed.store(false, std::memory_order_release);
}

// Every record the module has handed out, reused as threads end.
class RecordList {
  public:
    RecordList() : exitHook_(releaseRecord) {}
    ~RecordList() {
        for (ThreadRecord* record = head_.load(); record != nullptr;) {
            ThreadRecord* const next = record->next;
            if (record->owner != 0) platform::forgetThread(record->owner);
            delete record;
            record = next;
        }
    }
    RecordList(const RecordList&) = delete;
    RecordList& operator=(const RecordList&) = delete;

    const ThreadRecord* first() const { return head_.load(std::memory_order_acquire); }

    // A record for the calling thread, released again when the thread ends; null if memory is
    // exhausted. A thread claims once, so the lock costs nothing that matters.
    ThreadRecord* claim() {
        const std::lock_guard<std::mutex> lock(claimMutex_);
        ThreadRecord* record = takeFree();
        if (record == nullptr) record = takeOverEnded();
        if (record == nullptr) record = add();
        if (record != nullptr) record->owner = exitHook_.watchCurrentThread(record);
        return record;
    }

  private:
    ThreadRecord* takeFree() {
        for (ThreadRecord* record = head_.load(std::memory_order_acquire); record != nullptr;
             record = record->next) {
            if (!record->claimed.load(std::memory_order_relaxed) &&
                !record->claimed.exchange(true, std::memory_order_acquire))
                return record;
        }
        return nullptr;
    }

    // A record whose thread has ended without the system telling us.
    ThreadRecord* takeOverEnded() {
        for (ThreadRecord* record = head_.load(std::memory_order_acquire); record != nullptr;
             record = record->next) {
            if (record->owner != 0 && platform::threadHasEnded(record->owner)) {
                platform::forgetThread(record->owner);
                record->owner = 0;
                return record;
            }
        }
        return nullptr;
    }

    ThreadRecord* add() {
        auto* record = new (std::nothrow) ThreadRecord;
        if (record == nullptr) return nullptr;
        record->claimed.store(true, std::memory_order_relaxed);
        record->next = head_.load(std::memory_order_relaxed);
        head_.store(record, std::memory_order_release);
        return record;
    }

    std::mutex claimMutex_;
    std::atomic<ThreadRecord*> head_{nullptr};
    platform::ThreadExitHook exitHook_;
};

RecordList& records() {
    static RecordList list;
    return list;
}

}  // namespace

ThreadRecord& registerThread() {
    const bool fenceOnEntry = !platform::processBarrierAvailable();
    RecordList& list = records();
    ThreadRecord* record = list.claim();
    // Out of memory: a record comes free when another reading thread ends.
    while (record == nullptr) {
        std::this_thread::yield();
        record = list.claim();
    }
    record->fenceOnEntry = fenceOnEntry;
    currentRecord = record;
    return *record;
}

void waitForReaders() {
    // Pairs with the readers' fence where there is no process-wide barrier.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (platform::processBarrierAvailable()) platform::processBarrier();
    for (const ThreadRecord* record = records().first(); record != nullptr; record = record->next) {
        const std::uint32_t seen = record->sequence.load(std::memory_order_acquire);
        if (seen % 2 == 0) continue;
        while (record->sequence.load(std::memory_order_acquire) == seen) std::this_thread::yield();
    }
}

}  // namespace readerguard
