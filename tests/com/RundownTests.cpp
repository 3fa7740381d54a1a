// The delivery rundown on its own: the tearing-down thread's deliveries and
// other threads' ones, against close, wait and retire.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "com/DeliveryRundown.h"
#include "com/ThreadSlot.h"

namespace {

using Dravlo::DeliveryRundown;
using Dravlo::DeliveryScope;

enum class FreedAt { Retire, OwnLeaves, OthersLeave };

struct Case {
    const char* name;
    int own;         ///< deliveries of the rundown nested on the tearing-down thread
    bool inAnother;  ///< the tearing-down thread delivers into another rundown
    int others;      ///< deliveries held open on other threads
    bool wait;       ///< the teardown waits for the others
    bool reopen;     ///< after retire, a new receiver's delivery nests on the same thread
    FreedAt expected;
};

const Case cases[] = {
    {"nothing running", 0, false, 0, true, false, FreedAt::Retire},
    {"others, waited for", 0, false, 2, true, false, FreedAt::Retire},
    {"others, from another receiver's listener", 0, true, 2, false, false, FreedAt::OthersLeave},
    {"nested own deliveries", 2, false, 0, false, false, FreedAt::OwnLeaves},
    {"own delivery waits for the others only", 1, false, 2, true, false, FreedAt::OwnLeaves},
    {"own and others, no wait: the last of all", 1, false, 2, false, false, FreedAt::OthersLeave},
    {"re-initialised inside the callback", 1, false, 0, false, true, FreedAt::OwnLeaves},
};

/// Deliveries of `rundown` on threads of their own, held inside until release().
class OtherDeliveries {
public:
    OtherDeliveries(DeliveryRundown* rundown, int count) {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this, rundown] {
                const DeliveryScope scope(rundown);
                EXPECT_TRUE(scope);
                std::unique_lock lock(mutex_);
                ++inside_;
                changed_.notify_all();
                changed_.wait(lock, [&] { return released_; });
            });
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return inside_ == count; });
    }
    ~OtherDeliveries() { release(); }
    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
    }
    /// Releases them from another thread a while from now, so that a wait
    /// that returns early is caught.
    std::thread releaseLater() {
        return std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::lock_guard lock(mutex_);
            released_ = true;
            changed_.notify_all();
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int inside_ = 0;
    bool released_ = false;
    std::vector<std::thread> threads_;
};

TEST(DeliveryRundown, TeardownAgainstDeliveries_FreesOnceWhenTheLastOneLeaves) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto rundown = std::make_shared<DeliveryRundown>();
        const auto elsewhere = std::make_shared<DeliveryRundown>();
        std::vector<DeliveryRundown*> frames(c.inAnother ? 1 : 0, elsewhere.get());
        frames.insert(frames.end(), c.own, rundown.get());  // outermost first
        std::atomic<int> frees{0};
        OtherDeliveries others(rundown.get(), c.others);
        std::thread releaser;
        std::optional<FreedAt> freedAt;

        const auto teardown = [&] {
            EXPECT_EQ(!frames.empty(), DeliveryRundown::callingThreadDelivers());
            EXPECT_EQ(c.own, rundown->ownDeliveries());
            EXPECT_EQ(c.own + c.others, rundown->running());
            rundown->close();
            EXPECT_FALSE(DeliveryScope(rundown.get())) << "entered after close";
            if (c.wait) {
                releaser = others.releaseLater();
                rundown->waitForOthers();
                EXPECT_EQ(c.own, rundown->running()) << "the wait returned before the others left";
            }
            rundown->retire(&frees, [](void* count) { ++*static_cast<std::atomic<int>*>(count); });
            if (frees == 1) freedAt = FreedAt::Retire;
            if (c.reopen) {
                const auto renewed = std::make_shared<DeliveryRundown>();
                EXPECT_TRUE(DeliveryScope(renewed.get()));
                EXPECT_EQ(c.own, rundown->ownDeliveries());
            }
        };
        const std::function<void(std::size_t)> nest = [&](std::size_t level) {
            if (level == frames.size()) return teardown();
            const DeliveryScope scope(frames[level]);
            ASSERT_TRUE(scope);
            nest(level + 1);
        };
        nest(0);
        if (frees == 1 && !freedAt) freedAt = FreedAt::OwnLeaves;
        if (releaser.joinable()) releaser.join();
        others.release();
        if (frees == 1 && !freedAt) freedAt = FreedAt::OthersLeave;
        EXPECT_EQ(1, frees.load()) << "freed more than once, or never";
        ASSERT_TRUE(freedAt);
        EXPECT_EQ(static_cast<int>(c.expected), static_cast<int>(*freedAt));
        EXPECT_FALSE(DeliveryRundown::callingThreadDelivers());
    }
}

// Deliveries entering and leaving on several threads as fast as they can while
// the tearing-down thread closes, waits (or, as a listener's teardown does,
// does not) and retires: each round frees the receiver exactly once, never
// while a delivery that got in is still using it.
TEST(DeliveryRundown, DeliveriesRacingTeardown_FreedOnceAndNeverUnderADelivery) {
    constexpr int Rounds = 1000, Threads = 3;
    struct Receiver {
        std::atomic<int> inside{0};
        std::atomic<int>* frees;
    };
    std::atomic<int> frees{0}, entered{0};
    std::mutex mutex;
    std::condition_variable changed;
    int round = -1, finished = 0;  // guarded by mutex
    std::shared_ptr<DeliveryRundown> rundown;
    Receiver* receiver = nullptr;
    std::vector<std::thread> deliveries;
    for (int t = 0; t < Threads; ++t)
        deliveries.emplace_back([&] {
            for (int mine = 0; mine < Rounds; ++mine) {
                std::shared_ptr<DeliveryRundown> current;
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return round == mine; });
                    current = rundown;
                }
                for (bool first = true;; first = false) {
                    const DeliveryScope scope(current.get());
                    if (!scope) break;
                    ++receiver->inside;  // the receiver's memory, as a delivery uses it
                    if (first) ++entered;
                    --receiver->inside;
                }
                std::lock_guard lock(mutex);
                ++finished;
                changed.notify_all();
            }
        });
    int freedByTheLastDelivery = 0;
    for (int r = 0; r < Rounds; ++r) {
        const bool wait = r % 2 == 0;
        {
            std::lock_guard lock(mutex);
            rundown = std::make_shared<DeliveryRundown>();
            receiver = new Receiver{{0}, &frees};
            entered = 0;
            round = r;
        }
        changed.notify_all();
        while (entered.load() < Threads) std::this_thread::yield();
        rundown->close();
        if (wait) {
            rundown->waitForOthers();
            EXPECT_EQ(0, rundown->running()) << "round " << r;
        }
        rundown->retire(receiver, [](void* object) {
            auto* gone = static_cast<Receiver*>(object);
            EXPECT_EQ(0, gone->inside.load()) << "freed under a delivery";
            ++*gone->frees;
            delete gone;
        });
        if (wait) {
            EXPECT_EQ(r + 1, frees.load()) << "round " << r << ": nothing ran, yet not freed at once";
        }
        if (frees.load() == r) ++freedByTheLastDelivery;
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return finished == Threads * (r + 1); });
        ASSERT_EQ(r + 1, frees.load()) << "round " << r << " freed twice or never";
    }
    for (std::thread& thread : deliveries) thread.join();
    std::printf("rundown race: %d rounds, %d freed by the last delivery to leave\n", Rounds, freedByTheLastDelivery);
    EXPECT_GT(freedByTheLastDelivery, 0) << "no teardown met a delivery";
}

// The rundown's frames live in a thread slot. A slot that cannot hold a value
// must say so, for the library then refuses to load.
TEST(ThreadSlot, OnePastTheLast_FailsAndIsReported) {
    std::vector<std::unique_ptr<Dravlo::ThreadSlot>> slots;
    int value = 0;
    do {
        ASSERT_LT(slots.size(), 5000u) << "slots never ran out";
        slots.push_back(std::make_unique<Dravlo::ThreadSlot>());
        slots.back()->set(&value);
    } while (slots.back()->get() == &value);
    EXPECT_TRUE(Dravlo::ThreadSlot::anyFailed());
}

}  // namespace
