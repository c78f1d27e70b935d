// Lets one writer retire data that many readers may be using, without readers ever waiting
// on each other or on the writer: each reader counts itself in a per-thread slot on its own
// cache line, and the writer, after publishing the replacement, waits until every slot has
// been seen empty.
#pragma once

#include <atomic>
#include <cstdint>

class ReaderRegistry {
  public:
    class Scope {
      public:
        explicit Scope(const ReaderRegistry& registry);
        ~Scope() { slot_.fetch_sub(1, std::memory_order_release); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        std::atomic<std::uint32_t>& slot_;
    };

    // Call after publishing the replacement with a sequentially consistent store: on return,
    // no reader that could have seen the old data is still inside a Scope.
    void waitForReaders() const;

  private:
    static constexpr int kSlotCount = 32;
    struct alignas(64) Slot {
        mutable std::atomic<std::uint32_t> active{0};
    };
    Slot slots_[kSlotCount];
};
