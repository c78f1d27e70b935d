// One kernel with the per-sample work the store wraps around it: the reader guard, the block
// lookup and the indirect call, so a kernel is measured as the store would run it.
#pragma once

#include <atomic>

#include "ReaderGuard.h"
#include "SamplerKernels.h"

namespace bench {

class GuardedKernel {
  public:
    GuardedKernel(samplerkernels::SampleFunction kernel, const unsigned char* records,
                  std::int32_t channelCount)
        : kernel_(kernel), records_(records), channelCount_(channelCount) {}

    VoxelSample operator()(float u, float v, float w) const {
        const readerguard::Scope reading;
        return kernel_(records_.load(std::memory_order_acquire), channelCount_, u, v, w);
    }

  private:
    samplerkernels::SampleFunction kernel_;
    std::atomic<const unsigned char*> records_;
    std::int32_t channelCount_;
};

}  // namespace bench
