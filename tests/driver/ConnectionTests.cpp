// The driver's connection bookkeeping (DriverConnection) on stand-ins for COM,
// the device collection and the receiver, driven from many threads at once:
// Java threads connecting and tearing down, device threads delivering (their
// listeners tearing down from inside the callback) and threads sending
// commands. Built natively under the sanitizers; inside Dravlo.dll the same
// bookkeeping is tested through the exports under Wine.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "driver/DriverConnection.h"

namespace Dravlo {
// The native build loads no library of its own that could be unmapped.
void pinLibrary() noexcept {}
}  // namespace Dravlo

namespace {

using Dravlo::DeliveryRundown;
using Dravlo::DeliveryScope;

struct Tally {
    std::atomic<long> comInitialized{0}, comUninitialized{0};
    std::atomic<long> collections{0}, collectionsReleased{0};
    std::atomic<long> built{0}, freed{0}, hooked{0}, mostHooked{0};
    std::atomic<long> delivered{0}, deliveredWhileClosing{0};
    std::atomic<long> commands{0}, commandsMeetingStop{0};
};
Tally* tally = nullptr;  // the running case's

/// COM on the calling thread, as ComInitialization keeps it: one debt per
/// thread, refused while the thread still owes one.
struct StandInCom {
    void initialize(const char* message) {
        if (owed) throw IOException(message);
        owed = true;
        ++tally->comInitialized;
    }
    void uninitialize() noexcept {
        if (!std::exchange(owed, false)) return;
        ++tally->comUninitialized;
    }
    static thread_local bool owed;
};
thread_local bool StandInCom::owed = false;

struct DriverClass {};
struct Collection {
    Collection() { ++tally->collections; }
    ~Collection() { ++tally->collectionsReleased; }
    void GetCount(int* count) const { *count = 1; }
};
using CollectionHolder = std::unique_ptr<Collection>;
/// Found by its argument types, as the library's own is by DriverConnection.
void createAxisCollection(const DriverClass&, CollectionHolder& holder) { holder = std::make_unique<Collection>(); }

class Receiver;

/// The event source: the sinks hooked to it, called outside its lock, so a
/// delivery may still arrive after its sink was unhooked (as COM allows).
class Device {
public:
    struct Sink {
        std::shared_ptr<DeliveryRundown> rundown;
        Receiver* receiver;  // reached only inside the rundown
    };
    void hook(Sink sink) {
        std::lock_guard lock(mutex_);
        sinks_.push_back(std::move(sink));
    }
    void unhook(const Receiver* receiver) {
        std::lock_guard lock(mutex_);
        std::erase_if(sinks_, [&](const Sink& sink) { return sink.receiver == receiver; });
    }
    void fire();

private:
    std::mutex mutex_;
    std::vector<Sink> sinks_;
};

/// A receiver with DeviceReceiver's teardown: refuse entries, unhook, wait
/// for other threads' deliveries unless this thread delivers, stop; freed by
/// its rundown.
class Receiver {
public:
    Receiver(Device& device, const std::function<void()>& listener) : device_(device), listener_(listener) {
        ++tally->built;
    }
    ~Receiver() {
        EXPECT_EQ(0, rundown_->running()) << "freed under a delivery";
        ++tally->freed;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    const std::shared_ptr<DeliveryRundown>& rundown() const noexcept { return rundown_; }
    const std::shared_ptr<DeliveryRundown>& commands() const noexcept { return commands_; }
    void refuseEntries() noexcept {
        closing_ = true;
        rundown_->close();
        commands_->close();
    }
    void waitForCommands() noexcept { commands_->waitForOthers(); }
    void open() {
        const long now = ++tally->hooked;
        for (long most = tally->mostHooked; now > most && !tally->mostHooked.compare_exchange_weak(most, now);) {
        }
        device_.hook({rundown_, this});
    }
    void start() {}
    void stop() { stopped_ = true; }
    void command() {
        ++tally->commands;
        if (stopped_) ++tally->commandsMeetingStop;
        std::this_thread::yield();
        if (stopped_) ++tally->commandsMeetingStop;
    }
    void deliver() {
        ++tally->delivered;
        if (closing_) ++tally->deliveredWhileClosing;
        listener_();
    }
    static void retire(Receiver* receiver) noexcept {
        receiver->close();
        const std::shared_ptr<DeliveryRundown> rundown = receiver->rundown();
        rundown->retire(receiver);
    }

private:
    void close() {
        refuseEntries();
        device_.unhook(this);
        --tally->hooked;
        if (!DeliveryRundown::callingThreadDelivers()) rundown_->waitForOthers();
        stop();
    }

    Device& device_;
    const std::function<void()>& listener_;
    std::atomic<bool> closing_{false}, stopped_{false};
    std::shared_ptr<DeliveryRundown> rundown_ = std::make_shared<DeliveryRundown>();
    std::shared_ptr<DeliveryRundown> commands_ = std::make_shared<DeliveryRundown>();
};

void Device::fire() {
    std::vector<Sink> sinks;
    {
        std::lock_guard lock(mutex_);
        sinks = sinks_;
    }
    for (const Sink& sink : sinks) {
        const DeliveryScope scope(sink.rundown.get());
        if (scope) sink.receiver->deliver();
    }
}

/// A driver as JogDialDriver and KeyPadDriver hold their connection.
struct Driver {
    void connect() {
        try {
            connection.connect(com, DriverClass{}, "COM refused", "busy", deviceCount,
                               [&](CollectionHolder&, int) { return std::make_unique<Receiver>(device, listener); });
        } catch (const IOException& failure) {
            // Only this: the thread still owes the COM of an earlier connect.
            EXPECT_STREQ("COM refused", failure.what());
        }
    }
    void disconnect() {
        connection.disconnect(com, [] {});
    }
    void command() {
        connection.whileOpen([](Receiver& receiver) { receiver.command(); });
    }

    Dravlo::DriverConnection<CollectionHolder, Receiver> connection;
    StandInCom com;
    std::atomic<std::int32_t> deviceCount{0};
    Device device;
    std::function<void()> listener;
};

struct Case {
    const char* name;
    int javaThreads;        ///< threads connecting and tearing down at random, each ending torn down
    int listenerTeardowns;  ///< one listener call in this many tears the driver down from inside; 0: none
    bool commands;          ///< a thread sends commands all the while
};

const Case cases[] = {
    {"teardowns and connects overlapping", 3, 0, false},
    {"listeners tearing down from their callback", 1, 50, false},
    {"commands racing teardowns", 2, 0, true},
    {"everything at once", 2, 50, true},
};

TEST(DriverConnection, ManyThreadsConnectingTearingDownDeliveringAndCommanding_BalancedAndNeverTwoHooked) {
    constexpr int Operations = 300;  // per Java thread
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tally counts;
        tally = &counts;
        // A delivery meeting a teardown is what the case is for; on a busy machine (a sanitizer
        // build beside other work) a round may see none, so the counts add up over a few rounds.
        for (int round = 0; round < 5 && counts.deliveredWhileClosing == 0; ++round) {
            Driver driver;
            driver.listener = [&] {
                thread_local std::minstd_rand random(std::hash<std::thread::id>{}(std::this_thread::get_id()));
                if (c.listenerTeardowns > 0 && random() % c.listenerTeardowns == 0) driver.disconnect();
            };
            std::atomic<bool> done{false};
            std::vector<std::thread> background;
            for (int i = 0; i < 2; ++i)
                background.emplace_back([&] {
                    while (!done) driver.device.fire();
                });
            if (c.commands)
                background.emplace_back([&] {
                    while (!done) driver.command();
                });
            std::vector<std::thread> java;
            for (int t = 0; t < c.javaThreads; ++t)
                java.emplace_back([&, t] {
                    std::minstd_rand random(t + 1);
                    for (int op = 0; op < Operations; ++op) {
                        if (random() % 2) {
                            driver.disconnect();
                            continue;
                        }
                        // Connected: let a delivery or two in before the next operation.
                        driver.connect();
                        const long seen = tally->delivered;
                        for (int spin = 0; spin < 1000 && tally->delivered - seen < 2; ++spin)
                            std::this_thread::yield();
                    }
                    driver.disconnect();
                });
            for (std::thread& thread : java) thread.join();
            done = true;
            for (std::thread& thread : background) thread.join();
            driver.disconnect();
            EXPECT_FALSE(DeliveryRundown::callingThreadDelivers());
        }
        std::printf("%s: %ld receivers, %ld deliveries (%ld met a teardown), %ld commands\n", c.name,
                    counts.built.load(), counts.delivered.load(), counts.deliveredWhileClosing.load(),
                    counts.commands.load());
        EXPECT_EQ(counts.built, counts.freed) << "a receiver freed twice or never";
        EXPECT_EQ(counts.collections, counts.collectionsReleased);
        EXPECT_EQ(counts.comInitialized, counts.comUninitialized) << "a thread's COM left unbalanced";
        EXPECT_EQ(0, counts.hooked);
        EXPECT_EQ(1, counts.mostHooked) << "two receivers hooked at once";
        EXPECT_EQ(0, counts.commandsMeetingStop) << "a command met its device's Stop";
        EXPECT_GT(counts.built, Operations / 8) << "the Java threads seldom connected";
        EXPECT_GT(counts.deliveredWhileClosing, 0) << "no delivery met a teardown";
        if (c.commands) {
            EXPECT_GT(counts.commands, 0);
        }
        tally = nullptr;
    }
}

}  // namespace
