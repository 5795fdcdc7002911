// CQIRMutexLW: the core's lightweight mutex, its handle-less state and its virtual dispatch.
#include "qir_mutex_lw.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

#include "alloc_seam.h"
#include "qir_sys/error.h"

namespace {

using qir::sys::kWaitForever;

static_assert(!std::is_copy_constructible_v<CQIRMutexLW> &&
              !std::is_copy_assignable_v<CQIRMutexLW>);

template <class Work>
auto onOtherThread(Work work) {
    return std::async(std::launch::async, work).get();
}

bool freeForOthers(CQIRMutexLW& mutex) {
    return onOtherThread([&mutex] { return mutex.tryLock() && mutex.unlock(); });
}

TEST(MutexLWTest, ANewMutexIsValidAndFree) {
    CQIRMutexLW mutex;
    EXPECT_TRUE(mutex.isValid());
    EXPECT_TRUE(freeForOthers(mutex));
}

TEST(MutexLWTest, TheHolderLocksAgainAndUnlocksEachLock) {
    CQIRMutexLW mutex;
    ASSERT_TRUE(mutex.lock(kWaitForever));
    ASSERT_TRUE(mutex.tryLock());
    EXPECT_FALSE(freeForOthers(mutex));
    EXPECT_FALSE(onOtherThread([&mutex] { return mutex.lock(20); }));
    EXPECT_FALSE(onOtherThread([&mutex] { return mutex.unlock(); }));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_FALSE(freeForOthers(mutex));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(freeForOthers(mutex));
    EXPECT_FALSE(mutex.unlock());
}

TEST(MutexLWTest, LockWithoutLimitWaitsForTheHolder) {
    CQIRMutexLW mutex;
    ASSERT_TRUE(mutex.lock(kWaitForever));
    std::atomic<bool> letGo{false};
    std::promise<void> waiting;
    auto waiter = std::async(std::launch::async, [&] {
        waiting.set_value();
        const bool locked = mutex.lock(kWaitForever);
        const bool afterRelease = letGo.load();
        return locked && mutex.unlock() && afterRelease;
    });
    waiting.get_future().wait();
    letGo = true;
    ASSERT_TRUE(mutex.unlock());
    EXPECT_TRUE(waiter.get());
}

TEST(MutexLWTest, AnAbandonedMutexIsNoOrdinaryLock) {
    CQIRMutexLW mutex;
    std::thread([&mutex] { ASSERT_TRUE(mutex.lock(kWaitForever)); }).join();
    EXPECT_FALSE(mutex.lock(60000));
    EXPECT_TRUE(freeForOthers(mutex));
}

// A mutex whose creation failed: every operation answers false, and nothing waits.
class WithoutHandle : public CQIRMutexLW {
  public:
    WithoutHandle() {
        qir::sys::closeMutex(m_hMutex);
        m_hMutex = nullptr;
    }
};

TEST(MutexLWTest, WithoutAHandleEveryOperationFails) {
    WithoutHandle mutex;
    EXPECT_FALSE(mutex.isValid());
    EXPECT_FALSE(mutex.lock(kWaitForever));
    EXPECT_FALSE(mutex.lock(0));
    EXPECT_FALSE(mutex.tryLock());
    EXPECT_FALSE(mutex.unlock());
}

TEST(MutexLWTest, NoMemoryForTheHandleLeavesAMutexThatNeverLocks) {
    std::optional<CQIRMutexLW> mutex;
    bool fired = false;
    uint32_t error = 0;
    {
        allocseam::Failing failing(1);
        mutex.emplace();
        fired = failing.fired();
        error = qir::sys::lastError();
    }
    if (!fired) {
        // A kernel mutex (Windows) takes nothing from this program's heap.
        GTEST_SKIP() << "creating the mutex allocates nothing here";
    }
    EXPECT_EQ(error, qir::sys::kErrorNotEnoughMemory);
    EXPECT_FALSE(mutex->isValid());
    EXPECT_FALSE(mutex->lock(kWaitForever));
    EXPECT_FALSE(mutex->unlock());
}

// Records the timeouts that reach lock and answers as told.
class RecordingMutex : public CQIRMutexLW {
  public:
    bool lock(uint32_t ulTimeout) override {
        timeouts.push_back(ulTimeout);
        return answer;
    }
    std::vector<uint32_t> timeouts;
    bool answer = false;
};

TEST(MutexLWTest, TryLockIsLockWithoutWaitingThroughTheVirtualTable) {
    RecordingMutex recording;
    CQIRMutexLW& mutex = recording;
    recording.answer = true;
    EXPECT_TRUE(mutex.tryLock());
    recording.answer = false;
    EXPECT_FALSE(mutex.tryLock());
    EXPECT_EQ(recording.timeouts, (std::vector<uint32_t>{0, 0}));
    // The override took the lock's place: the real mutex was never locked.
    EXPECT_FALSE(mutex.unlock());
}

}  // namespace
