#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "ReaderGuard.h"
#include "ReferenceSampler.h"
#include "SharedBlocks.h"
#include "VolumeFiles.h"
#include "VoxelVolume.h"

#if defined(__linux__)
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#endif

namespace {

// Two loadable volumes and files that give them, refuse to load, or are missing.
class InstalledVolumes {
  public:
    InstalledVolumes() {
        testfiles::writeBytes(folder_.file("a.vol"), testfiles::volumeBytes({}, volumes_[0].body));
        testfiles::writeBytes(folder_.file("b.vol"),
                              testfiles::volumeBytes({"VOLU", 4, 128, 3, 1}, volumes_[1].body));
        auto truncated = testfiles::volumeBytes({}, volumes_[0].body);
        truncated.resize(truncated.size() / 2);
        testfiles::writeBytes(folder_.file("short.vol"), truncated);
        std::mt19937 generator(5);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (auto& p : points_) p = {unit(generator), unit(generator), unit(generator)};
    }

    // a.vol, short.vol, b.vol, missing.vol: every other one loads, a and b alternately.
    std::string file(int round) const {
        static const char* const kNames[] = {"a.vol", "short.vol", "b.vol", "missing.vol"};
        return folder_.file(kNames[round % 4]).string();
    }

    // Samples `store` at the i-th point and tells whether the value is exactly what one of
    // the volumes gives there: never a mixture or garbage.
    bool sampleMatches(const VoxelVolume& store, std::size_t i) const {
        const auto& p = points_[i % points_.size()];
        const VoxelSample s = store.sampleTrilinear(p[0], p[1], p[2]);
        return reference::sameBits(s, reference::sampleTrilinear(volumes_[0], p[0], p[1], p[2])) ||
               reference::sameBits(s, reference::sampleTrilinear(volumes_[1], p[0], p[1], p[2]));
    }

    // Samples every point in one batch: all of it must come from one installed volume, since
    // one reader scope covers the batch.
    bool batchMatches(const VoxelVolume& store) const {
        std::array<TexturePoint, std::tuple_size_v<decltype(points_)>> points;
        for (std::size_t i = 0; i < points.size(); ++i)
            points[i] = {points_[i][0], points_[i][1], points_[i][2]};
        std::array<VoxelSample, points.size()> samples;
        store.sampleTrilinearBatch(points.size(), points.data(), samples.data());
        const auto fromVolume = [&](const reference::Volume& volume) {
            for (std::size_t i = 0; i < points.size(); ++i) {
                const TexturePoint& p = points[i];
                if (!reference::sameBits(samples[i],
                                         reference::sampleTrilinear(volume, p.u, p.v, p.w)))
                    return false;
            }
            return true;
        };
        return fromVolume(volumes_[0]) || fromVolume(volumes_[1]);
    }

  private:
    testfiles::ScratchFolder folder_;
    const std::array<reference::Volume, 2> volumes_ = {
        reference::Volume{testfiles::randomBody(4, 501), 4},
        reference::Volume{testfiles::randomBody(3, 502), 3}};
    std::array<std::array<float, 3>, 64> points_;
};

// Sampling goes on at least until this many loads have replaced the volume under it.
constexpr int kLoadsToSee = 6;

// Keeps replacing the volumes of `stores` until `keepLoading` turns false; counts the loads
// that succeeded.
std::thread startLoading(const InstalledVolumes& files, std::vector<VoxelVolume*> stores,
                         const std::atomic<bool>& keepLoading, std::atomic<int>& successfulLoads) {
    return std::thread([&files, stores, &keepLoading, &successfulLoads] {
        std::int32_t bytesRead = 0;
        for (int round = 0; keepLoading.load(); ++round) {
            for (VoxelVolume* store : stores) {
                if (store->loadVolumeFile(files.file(round).c_str(), bytesRead) > 0)
                    ++successfulLoads;
            }
        }
    });
}

class Concurrency : public testing::Test {
  protected:
    void loadFirstVolume(VoxelVolume& store) const {
        std::int32_t bytesRead = 0;
        ASSERT_EQ(store.loadVolumeFile(files_.file(0).c_str(), bytesRead), 4);
    }

    const InstalledVolumes files_;
};

// Samplers run while another thread keeps replacing the volume with good and bad files: every
// sample must be exactly what one of the installed volumes gives, and every batch (the third
// thread's) wholly what one of them gives.
TEST_F(Concurrency, SamplesDuringLoadsMatchAnInstalledVolume) {
    VoxelVolume store;
    loadFirstVolume(store);

    std::atomic<bool> loading{true};
    std::atomic<int> badSamples{0};
    std::atomic<long> samples{0};
    std::vector<std::thread> samplers;
    for (std::size_t t = 0; t < 3; ++t) {
        samplers.emplace_back([&, t] {
            for (std::size_t i = t; loading.load(); ++i) {
                if (t == 2 ? !files_.batchMatches(store) : !files_.sampleMatches(store, i))
                    ++badSamples;
                ++samples;
            }
        });
    }
    int successfulLoads = 0;
    std::int32_t bytesRead = 0;
    for (int round = 0; round < 24; ++round) {
        if (store.loadVolumeFile(files_.file(round).c_str(), bytesRead) > 0) ++successfulLoads;
    }
    loading = false;
    for (auto& thread : samplers) thread.join();

    EXPECT_EQ(successfulLoads, 12);
    EXPECT_GT(samples.load(), 0);
    EXPECT_EQ(badSamples.load(), 0);
}

// Render threads come and go: each ending thread hands its reader record back and a new one
// takes it over, while loads keep waiting for whoever is reading.
TEST_F(Concurrency, SamplerThreadsStartingAndEndingDuringLoads) {
    VoxelVolume store;
    loadFirstVolume(store);

    std::atomic<bool> loading{true};
    std::atomic<int> successfulLoads{0};
    std::thread loader = startLoading(files_, {&store}, loading, successfulLoads);
    std::atomic<int> badSamples{0};
    for (int wave = 0; wave < 40 || successfulLoads.load() < kLoadsToSee; ++wave) {
        std::vector<std::thread> samplers;
        for (std::size_t t = 0; t < 3; ++t) {
            samplers.emplace_back([&, t] {
                for (std::size_t i = t; i < t + 2000; ++i) {
                    if (!files_.sampleMatches(store, i)) ++badSamples;
                }
            });
        }
        for (auto& thread : samplers) thread.join();
    }
    loading = false;
    loader.join();

    EXPECT_EQ(badSamples.load(), 0);
}

// One thread's reader record serves every store it samples, and loads into different stores
// wait on the same records at the same time; the block one store retires becomes the spare the
// other fills, which no sampler may ever read while it is filled.
TEST_F(Concurrency, ThreadsSamplingTwoStoresWhileBothReload) {
    std::array<VoxelVolume, 2> stores;
    for (VoxelVolume& store : stores) loadFirstVolume(store);

    std::atomic<bool> loading{true};
    std::atomic<int> successfulLoads{0};
    std::array<std::thread, 2> loaders = {
        startLoading(files_, {&stores[0]}, loading, successfulLoads),
        startLoading(files_, {&stores[1]}, loading, successfulLoads)};
    std::atomic<int> badSamples{0};
    std::vector<std::thread> samplers;
    for (std::size_t t = 0; t < 2; ++t) {
        samplers.emplace_back([&, t] {
            for (std::size_t i = t; i < t + 20000 || successfulLoads.load() < kLoadsToSee; ++i) {
                if (!files_.sampleMatches(stores[i % 2], i / 2)) ++badSamples;
            }
        });
    }
    for (auto& thread : samplers) thread.join();
    loading = false;
    for (auto& thread : loaders) thread.join();

    EXPECT_EQ(badSamples.load(), 0);
}

// Stores made, loaded, reloaded and destroyed on their own threads share blocks with stores that
// others sample and reload: every sample is exactly one installed volume, and once every store
// is gone the process holds no block of theirs.
TEST_F(Concurrency, StoresComingAndGoingShareBlocksWithStoresBeingSampled) {
    const std::size_t blocksBefore = sharedblocks::usage().blocks;
    {
        std::array<VoxelVolume, 2> sampled;
        for (VoxelVolume& store : sampled) loadFirstVolume(store);
        std::atomic<bool> loading{true};
        std::atomic<int> successfulLoads{0};
        std::thread loader =
            startLoading(files_, {&sampled[0], &sampled[1]}, loading, successfulLoads);
        std::atomic<int> storesGone{0};
        std::atomic<int> badSamples{0};
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < 2; ++t) {
            threads.emplace_back([&, t] {
                std::int32_t bytesRead = 0;
                for (int round = static_cast<int>(t); loading.load(); ++round) {
                    VoxelVolume store;
                    store.loadVolumeFile(files_.file(round).c_str(), bytesRead);
                    store.loadVolumeFile(files_.file(round + 2).c_str(), bytesRead);
                    for (std::size_t i = 0; i < 16; ++i) {
                        if (store.hasVolume() && !files_.sampleMatches(store, i)) ++badSamples;
                    }
                    ++storesGone;
                }
            });
        }
        std::thread sampler([&] {
            for (std::size_t i = 0; successfulLoads.load() < kLoadsToSee || storesGone.load() < 40;
                 ++i) {
                if (!files_.sampleMatches(sampled[i % 2], i / 2)) ++badSamples;
            }
            loading = false;
        });
        sampler.join();
        loader.join();
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(badSamples.load(), 0);
    }
    EXPECT_EQ(sharedblocks::usage().blocks, blocksBefore);
}

// A value a writer retires through the reader guard: overwritten just before it is freed, so
// a reader still holding it sees the damage even without a memory checker.
// Atomic fields keep the compiler from dropping the overwrite as a store to a dying object.
struct Guarded {
    explicit Guarded(std::uint64_t v) : value(v), complement(~v) {}
    ~Guarded() {
        value.store(complement.load(std::memory_order_relaxed), std::memory_order_relaxed);
    }
    bool intact() const {
        return complement.load(std::memory_order_relaxed) == ~value.load(std::memory_order_relaxed);
    }
    std::atomic<std::uint64_t> value;
    std::atomic<std::uint64_t> complement;
};

void replaceUntil(std::atomic<const Guarded*>& published, const std::atomic<bool>& keepGoing) {
    for (std::uint64_t v = 1; keepGoing.load(); ++v) {
        std::unique_ptr<const Guarded> previous(
            published.exchange(new Guarded(v), std::memory_order_seq_cst));
        readerguard::waitForReaders();
    }
}

// Reads whose outer value a writer replaced while the reader still held it, after the inner
// scope had ended: the cases the nesting must get right.
constexpr int kContestedReadsToSee = 2000;

// A thread inside two scopes at once (one read nested in another): leaving the inner scope
// must not tell writers the thread has stopped reading what it took in the outer one.
TEST_F(Concurrency, NestedScopeKeepsTheOuterReadGuarded) {
    std::array<std::atomic<const Guarded*>, 2> published = {new Guarded(0), new Guarded(0)};
    std::atomic<bool> replacing{true};
    std::array<std::thread, 2> writers = {
        std::thread(replaceUntil, std::ref(published[0]), std::cref(replacing)),
        std::thread(replaceUntil, std::ref(published[1]), std::cref(replacing))};
    long damaged = 0;
    for (int contested = 0; contested < kContestedReadsToSee && damaged == 0;) {
        const readerguard::Scope outer;
        const Guarded* outerValue = published[0].load(std::memory_order_acquire);
        {
            const readerguard::Scope inner;
            if (!published[1].load(std::memory_order_acquire)->intact()) ++damaged;
        }
        std::this_thread::yield();
        if (!outerValue->intact()) ++damaged;
        if (published[0].load(std::memory_order_acquire) != outerValue) ++contested;
    }
    replacing = false;
    for (auto& thread : writers) thread.join();
    for (auto& value : published) delete value.load();

    EXPECT_EQ(damaged, 0);
}

#if defined(__linux__)
// Refuses membarrier in this process, as a seccomp sandbox or an old kernel would.
bool refuseMembarrier() {
    sock_filter instructions[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_membarrier, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program = {static_cast<unsigned short>(std::size(instructions)), instructions};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Where membarrier is refused, readers must fence for themselves and loads stay safe. Runs in
// a fresh process: whether the barrier is there is decided once per process.
TEST(ConcurrencyDeathTest, WithoutMembarrierReadersFenceAndSamplesStayExact) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const InstalledVolumes files;
    EXPECT_EXIT(
        {
            if (!refuseMembarrier()) std::exit(2);
            VoxelVolume store;
            std::int32_t bytesRead = 0;
            if (store.loadVolumeFile(files.file(0).c_str(), bytesRead) != 4) std::exit(3);
            if (!files.sampleMatches(store, 0) || !readerguard::currentRecord->fenceOnEntry)
                std::exit(4);
            std::atomic<bool> loading{true};
            std::atomic<int> successfulLoads{0};
            std::thread loader = startLoading(files, {&store}, loading, successfulLoads);
            int badSamples = 0;
            for (std::size_t i = 0; i < 20000 || successfulLoads.load() < kLoadsToSee; ++i)
                badSamples += !files.sampleMatches(store, i);
            loading = false;
            loader.join();
            std::exit(badSamples == 0 ? 0 : 5);
        },
        testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
