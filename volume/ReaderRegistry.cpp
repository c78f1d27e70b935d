#include "ReaderRegistry.h"

#include <thread>

namespace {

// Spreads threads over the slots; two threads sharing a slot stay correct, they only make the
// writer wait for both.
unsigned threadSlotNumber() {
    static std::atomic<unsigned> nextThreadNumber{0};
    thread_local const unsigned number = nextThreadNumber.fetch_add(1, std::memory_order_relaxed);
    return number;
}

}  // namespace

ReaderRegistry::Scope::Scope(const ReaderRegistry& registry)
    : slot_(registry.slots_[threadSlotNumber() % kSlotCount].active) {
    slot_.fetch_add(1, std::memory_order_seq_cst);
}

void ReaderRegistry::waitForReaders() const {
    for (const Slot& slot : slots_) {
        while (slot.active.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    }
}
