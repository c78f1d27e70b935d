// Lets one writer retire data that many readers may be using, while a reader pays only plain
// stores to a record of its own thread: the writer, after publishing the replacement, makes
// every thread's earlier stores visible with one process-wide barrier, then waits for the
// threads it saw inside a scope to leave it. Where no such barrier exists, readers fence.
#pragma once

#include <atomic>
#include <cstdint>

namespace readerguard {

// One per thread that has read; only that thread writes it while it holds the record, and
// each has its own cache line so readers never contend.
struct alignas(64) ThreadRecord {
    // Odd while the thread is inside a scope: the writer waits for it to change, so a thread
    // that keeps reading cannot keep the writer waiting.
    std::atomic<std::uint32_t> sequence{0};
    // No process-wide barrier here: the reader orders its entry with a full fence itself.
    bool fenceOnEntry = true;
    std::atomic<bool> claimed{false};
    // Where the system cannot release the record as its thread ends: a mark of that thread, so
    // the next thread that needs a record can tell it has ended. Changed only while claiming.
    std::uintptr_t owner = 0;
    ThreadRecord* next = nullptr;
};

// Set on the thread's first scope; constant-initialised, so reaching it needs no guard.
inline thread_local ThreadRecord* currentRecord = nullptr;

// Claims a record for the calling thread, released again when the thread ends (or taken over
// by a later thread once it has).
ThreadRecord& registerThread();

// Scopes nest: one entered while the thread is already inside finds the sequence odd and
// leaves it as it was, without a branch on the way in or out.
class Scope {
  public:
    Scope()
        : record_(currentRecord != nullptr ? *currentRecord : registerThread()),
          entry_(record_.sequence.load(std::memory_order_relaxed)) {
        record_.sequence.store(entry_ | 1, std::memory_order_relaxed);
        // The announcement must be visible before the data is read: the writer's barrier
        // orders it, so only the compiler must keep it in place.
        if (record_.fenceOnEntry) {
            std::atomic_thread_fence(std::memory_order_seq_cst);
        } else {
            std::atomic_signal_fence(std::memory_order_seq_cst);
        }
    }
    // Outermost: the next even number; nested: the odd number found on entry.
    ~Scope() {
        record_.sequence.store(entry_ + 2 - ((entry_ & 1) << 1), std::memory_order_release);
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    ThreadRecord& record_;
    const std::uint32_t entry_;
};

// Call after publishing the replacement with a sequentially consistent store: on return, no
// reader that could have seen the old data is still inside a Scope.
void waitForReaders();

}  // namespace readerguard
