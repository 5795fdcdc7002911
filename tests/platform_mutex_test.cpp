// The platform layer's unnamed recursive mutex, held and waited for across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "param_name.h"
#include "qir_sys/mutex.h"

namespace {

using qir::sys::closeMutex;
using qir::sys::createMutex;
using qir::sys::kWaitForever;
using qir::sys::lockMutex;
using qir::sys::MutexHandle;
using qir::sys::unlockMutex;

// Runs `work` on a thread of its own and answers its result.
template <class Work>
auto onOtherThread(Work work) {
    return std::async(std::launch::async, work).get();
}

// Whether another thread could take the mutex at once (it lets it go again).
bool freeForOthers(MutexHandle mutex) {
    return onOtherThread([mutex] { return lockMutex(mutex, 0) && unlockMutex(mutex); });
}

// Holds the mutex on a thread of its own from construction until release().
class Holder {
  public:
    explicit Holder(MutexHandle mutex)
        : m_mutex(mutex), m_released(m_release.get_future()), m_thread(&Holder::run, this) {
        m_held = m_locked.get_future().get();
    }
    ~Holder() { release(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    bool held() const { return m_held; }
    // Lets go; answers whether the holder's unlock succeeded.
    bool release() {
        if (m_thread.joinable()) {
            m_release.set_value();
            m_thread.join();
        }
        return m_unlocked;
    }

  private:
    void run() {
        m_locked.set_value(lockMutex(m_mutex, kWaitForever));
        m_released.wait();
        m_unlocked = unlockMutex(m_mutex);
    }

    MutexHandle m_mutex;
    std::promise<bool> m_locked;
    std::promise<void> m_release;
    std::future<void> m_released;
    bool m_held = false;
    bool m_unlocked = false;
    std::thread m_thread;
};

class MutexTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(m_mutex, nullptr); }
    void TearDown() override { closeMutex(m_mutex); }

    MutexHandle m_mutex = createMutex();
};

struct TimeoutCase {
    const char* name;
    uint32_t timeoutMs;
};

void PrintTo(const TimeoutCase& c, std::ostream* os) {
    *os << c.name;
}

class MutexTimeoutTest : public MutexTest, public testing::WithParamInterface<TimeoutCase> {};

TEST_P(MutexTimeoutTest, FailsWhileAnotherThreadHoldsIt) {
    Holder holder(m_mutex);
    ASSERT_TRUE(holder.held());
    EXPECT_FALSE(lockMutex(m_mutex, GetParam().timeoutMs));
    EXPECT_TRUE(holder.release());
    ASSERT_TRUE(lockMutex(m_mutex, GetParam().timeoutMs));
    EXPECT_TRUE(unlockMutex(m_mutex));
}

INSTANTIATE_TEST_SUITE_P(Timeouts, MutexTimeoutTest,
                         testing::Values(TimeoutCase{"NoWait", 0}, TimeoutCase{"OneMs", 1},
                                         TimeoutCase{"FiftyMs", 50}),
                         caseName<TimeoutCase>);

class MutexWaitTest : public MutexTest, public testing::WithParamInterface<TimeoutCase> {};

// The waiter must get the mutex, and only once the holder has let it go.
TEST_P(MutexWaitTest, WaitsUntilTheHolderLetsGo) {
    Holder holder(m_mutex);
    ASSERT_TRUE(holder.held());
    std::atomic<bool> letGo{false};
    std::promise<void> waiting;
    auto waiter = std::async(std::launch::async, [&] {
        waiting.set_value();
        const bool locked = lockMutex(m_mutex, GetParam().timeoutMs);
        const bool afterRelease = letGo.load();
        if (locked) {
            unlockMutex(m_mutex);
        }
        return std::make_pair(locked, afterRelease);
    });
    waiting.get_future().wait();
    letGo = true;
    EXPECT_TRUE(holder.release());
    const auto [locked, afterRelease] = waiter.get();
    EXPECT_TRUE(locked);
    EXPECT_TRUE(afterRelease);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, MutexWaitTest,
                         testing::Values(TimeoutCase{"Forever", kWaitForever},
                                         TimeoutCase{"OneMinute", 60000}),
                         caseName<TimeoutCase>);

TEST_F(MutexTest, EveryLockOfTheHolderNeedsItsOwnUnlock) {
    ASSERT_TRUE(lockMutex(m_mutex, kWaitForever));
    ASSERT_TRUE(lockMutex(m_mutex, 0));
    EXPECT_FALSE(freeForOthers(m_mutex));
    EXPECT_TRUE(unlockMutex(m_mutex));
    EXPECT_FALSE(freeForOthers(m_mutex));
    EXPECT_TRUE(unlockMutex(m_mutex));
    EXPECT_TRUE(freeForOthers(m_mutex));
    EXPECT_FALSE(unlockMutex(m_mutex));
}

TEST_F(MutexTest, OnlyTheHolderCanUnlock) {
    EXPECT_FALSE(unlockMutex(m_mutex));
    ASSERT_TRUE(lockMutex(m_mutex, 0));
    EXPECT_FALSE(onOtherThread([this] { return unlockMutex(m_mutex); }));
    EXPECT_FALSE(freeForOthers(m_mutex));
    EXPECT_TRUE(unlockMutex(m_mutex));
}

// A holder thread that ends without unlocking: the next lock answers false and lets go, so
// that the mutex is not stuck with a caller that believes it failed.
TEST_F(MutexTest, AnAbandonedMutexAnswersFalseOnceAndIsFreeAgain) {
    std::thread([this] { ASSERT_TRUE(lockMutex(m_mutex, 0)); }).join();
    EXPECT_FALSE(lockMutex(m_mutex, 0));
    EXPECT_TRUE(freeForOthers(m_mutex));
    ASSERT_TRUE(lockMutex(m_mutex, 0));
    EXPECT_TRUE(unlockMutex(m_mutex));
}

TEST(MutexNullTest, ANullHandleIsNeverLockedOrUnlocked) {
    EXPECT_FALSE(lockMutex(nullptr, 0));
    EXPECT_FALSE(lockMutex(nullptr, kWaitForever));
    EXPECT_FALSE(unlockMutex(nullptr));
    closeMutex(nullptr);
}

}  // namespace
