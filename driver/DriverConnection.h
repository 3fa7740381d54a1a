#pragma once
// A driver's connection: its collection and the receiver of device 0, with
// the one lock that state changes under. Portable: the COM bookkeeping, the
// class id, the collection and the receiver are the caller's types, so the
// native sanitizer builds run this bookkeeping on stand-ins. The collection
// is made by createAxisCollection(clsid, holder): AxisDriver.h's in the
// library, a stand-in's (found by its argument types) elsewhere.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "bridge/Exceptions.h"
#include "com/CheckedMutex.h"
#include "com/DeliveryRundown.h"
#ifdef _WIN32
#include "com/AxisDriver.h"
#endif
#include "driver/DeviceLookup.h"
#include "driver/DriverOwned.h"
#include "driver/LibraryPin.h"

namespace Dravlo {

/// What a driver holds between Java calls: its Axis collection and the
/// receiver of device 0, and the one operation (connect or tear down) that
/// may change them at a time.
///
/// Thread rules, enforced here:
/// - Every member is guarded by mutex_, which is never held across a call into
///   Java or the device: an operation takes what it changes out under the lock
///   and works on it outside.
/// - One operation at a time. A caller that finds another one in progress
///   waits for it, unless the calling thread is itself delivering an event
///   (a listener's callback) and the operation in progress may be waiting for
///   that very delivery; then an uninitialise returns at once and an
///   initialise fails. So teardowns never wait for each other in a cycle.
/// - A teardown on a thread that delivers (a listener's) does not wait for the
///   deliveries on other threads; their receiver is freed by the last of them.
///   Any other caller, when it returns, has seen every listener call of every
///   receiver this driver tore down come to an end.
/// - Commands (whileOpen) may run on any thread at any time; they reach the
///   receiver only inside its rundowns, and never once its teardown has begun.
/// The destructor (library unload) abandons whatever is still held.
template <class CollectionPtr, class Receiver>
class DriverConnection {
public:
    DriverConnection() = default;
    DriverConnection(const DriverConnection&) = delete;
    DriverConnection& operator=(const DriverConnection&) = delete;
    ~DriverConnection() = default;  // abandons: see DriverOwned

    /// initialize: COM on this thread, then the existing connection (if any)
    /// torn down as disconnect would (but the Java listeners stay), then a new
    /// collection filled by the creation sequence and counted into
    /// `deviceCount`; with a device, `build(collection, count)` makes the
    /// receiver (listeners in place), which is then hooked and started. A
    /// listener that uninitialises while this connection is being hooked has
    /// it torn down (with `releaseListeners`) before this returns. Throws
    /// IOException, JNIException or _com_error; a failure leaves nothing
    /// behind: the new collection is released and this call's CoInitialize
    /// balanced.
    template <class Com, class Clsid, class ReleaseListeners, class Build>
    void connect(Com& com, const Clsid& clsid, const char* comFailureMessage, const char* busyMessage,
                 std::atomic<std::int32_t>& deviceCount, ReleaseListeners&& releaseListeners, Build&& build)
        DRAVLO_EXCLUDES(mutex_);

    /// uninitialize: tears the connection down (collection first, then the
    /// receiver: no new delivery or command, wait for commands, Stop, unhook,
    /// wait for deliveries unless this thread delivers, Stop, Close, Release),
    /// then runs `releaseListeners`, then balances this thread's COM debt. A
    /// teardown already in progress elsewhere is waited for (see above) and
    /// nothing more is done but the COM debt.
    template <class Com, class ReleaseListeners>
    void disconnect(Com& com, ReleaseListeners&& releaseListeners) DRAVLO_EXCLUDES(mutex_);

    /// Runs `operation(receiver)` inside the receiver's rundowns, when there is
    /// a receiver and its teardown has not begun; otherwise nothing.
    template <class Operation>
    void whileOpen(Operation&& operation) DRAVLO_EXCLUDES(mutex_);

private:
    enum class Phase { None, Connect, Teardown };

    /// Waits (under `lock`) until no operation is in progress or, on a
    /// delivering thread, until waiting could deadlock; then starts `kind` and
    /// returns true, or returns false without starting it.
    bool begin(CheckedLock& lock, Phase kind, bool delivering) DRAVLO_REQUIRES(mutex_);
    void end() noexcept DRAVLO_EXCLUDES(mutex_);
    /// Ends the operation this thread began, however its scope is left.
    class Ending {
    public:
        explicit Ending(DriverConnection& connection) noexcept : connection_(connection) {}
        Ending(const Ending&) = delete;
        Ending& operator=(const Ending&) = delete;
        ~Ending() { connection_.end(); }

    private:
        DriverConnection& connection_;
    };
    /// Takes the collection and receiver out and tears them down, outside the lock.
    void tearDownTaken() DRAVLO_EXCLUDES(mutex_);
    /// On a thread that may wait: until every receiver torn down so far has
    /// no delivery left.
    void waitForDrain() DRAVLO_EXCLUDES(mutex_);

    CheckedMutex mutex_;
    std::condition_variable idle_;  // an operation ended
    Phase busy_ DRAVLO_GUARDED_BY(mutex_) = Phase::None;
    bool busyMayWait_ DRAVLO_GUARDED_BY(mutex_) = false;  // the operation in progress may wait for deliveries
    // A listener uninitialised while the connection in progress was hooked.
    bool pendingTeardown_ DRAVLO_GUARDED_BY(mutex_) = false;
    DriverOwned<CollectionPtr> collection_ DRAVLO_GUARDED_BY(mutex_);
    DriverOwned<Receiver> receiver_ DRAVLO_GUARDED_BY(mutex_);
    // Rundowns of torn-down receivers that may still have deliveries running.
    std::vector<std::shared_ptr<DeliveryRundown>> draining_ DRAVLO_GUARDED_BY(mutex_);
};

template <class CollectionPtr, class Receiver>
bool DriverConnection<CollectionPtr, Receiver>::begin(CheckedLock& lock, Phase kind, bool delivering) {
    while (busy_ != Phase::None) {
        // An operation that may wait for deliveries may be waiting for ours.
        if (delivering && busyMayWait_) return false;
        lock.wait(idle_);
    }
    busy_ = kind;
    busyMayWait_ = !delivering;
    return true;
}

template <class CollectionPtr, class Receiver>
void DriverConnection<CollectionPtr, Receiver>::end() noexcept {
    {
        CheckedLock lock(mutex_);
        busy_ = Phase::None;
    }
    idle_.notify_all();
}

template <class CollectionPtr, class Receiver>
void DriverConnection<CollectionPtr, Receiver>::tearDownTaken() {
    DriverOwned<CollectionPtr> collection;
    Receiver* receiver = nullptr;
    {
        CheckedLock lock(mutex_);
        std::erase_if(draining_, [](const auto& rundown) { return rundown->running() == 0; });
        if (receiver_) draining_.push_back(receiver_->rundown());  // may throw: nothing taken yet
        collection = std::move(collection_);
        receiver = receiver_.release();
        if (receiver != nullptr) receiver->refuseEntries();
    }
    collection.reset();
    if (receiver == nullptr) return;
    receiver->waitForCommands();
    receiver->stop();
    Receiver::retire(receiver);
}

template <class CollectionPtr, class Receiver>
void DriverConnection<CollectionPtr, Receiver>::waitForDrain() {
    std::vector<std::shared_ptr<DeliveryRundown>> draining;
    {
        CheckedLock lock(mutex_);
        std::erase_if(draining_, [](const auto& rundown) { return rundown->running() == 0; });
        draining = draining_;
    }
    for (const std::shared_ptr<DeliveryRundown>& rundown : draining) rundown->waitForOthers();
}

template <class CollectionPtr, class Receiver>
template <class Com, class Clsid, class ReleaseListeners, class Build>
void DriverConnection<CollectionPtr, Receiver>::connect(Com& com, const Clsid& clsid, const char* comFailureMessage,
                                                        const char* busyMessage, std::atomic<std::int32_t>& deviceCount,
                                                        ReleaseListeners&& releaseListeners, Build&& build) {
    com.initialize(comFailureMessage);
    // This call's CoInitialize, balanced unless the connection stands.
    class ComDebt {
    public:
        explicit ComDebt(Com& com) noexcept : com_(com) {}
        ComDebt(const ComDebt&) = delete;
        ComDebt& operator=(const ComDebt&) = delete;
        ~ComDebt() {
            if (owed_) com_.uninitialize();
        }
        void settle() noexcept { owed_ = false; }

    private:
        Com& com_;
        bool owed_ = true;
    } debt(com);
    const bool delivering = DeliveryRundown::callingThreadDelivers();
    {
        CheckedLock lock(mutex_);
        if (!begin(lock, Phase::Connect, delivering)) throw IOException(busyMessage);
    }
    const Ending ending(*this);

    tearDownTaken();
    if (!delivering) waitForDrain();

    auto collection = std::make_unique<CollectionPtr>();
    createAxisCollection(clsid, *collection);
    const int count = queryDeviceCount(*collection);
    deviceCount = count;
    std::unique_ptr<Receiver> receiver = count > 0 ? build(*collection, count) : nullptr;
    Receiver* const hooked = receiver.get();
    if (hooked != nullptr) pinLibrary();  // before the first sink exists
    {
        CheckedLock lock(mutex_);
        collection_ = DriverOwned<CollectionPtr>(std::move(collection));
        receiver_ = DriverOwned<Receiver>(std::move(receiver));
    }
    debt.settle();
    if (hooked == nullptr) return;
    hooked->open();
    hooked->start();
    bool pending = false;
    {
        CheckedLock lock(mutex_);
        pending = std::exchange(pendingTeardown_, false);
    }
    if (pending) {
        tearDownTaken();
        releaseListeners();
    }
}

template <class CollectionPtr, class Receiver>
template <class Com, class ReleaseListeners>
void DriverConnection<CollectionPtr, Receiver>::disconnect(Com& com, ReleaseListeners&& releaseListeners) {
    const bool delivering = DeliveryRundown::callingThreadDelivers();
    bool ours = false;
    {
        CheckedLock lock(mutex_);
        // A teardown in progress is waited for and not repeated; a connect in
        // progress is waited for and then torn down.
        const Phase inProgress = busy_;
        if (begin(lock, Phase::Teardown, delivering)) {
            ours = inProgress != Phase::Teardown;
            if (!ours) busy_ = Phase::None;
        } else if (busy_ == Phase::Connect && receiver_) {
            // The connect in progress cannot be waited for from here; its new
            // receiver takes no more deliveries, and the connect tears it
            // down once it is hooked.
            receiver_->refuseEntries();
            pendingTeardown_ = true;
        }
    }
    if (ours) {
        const Ending ending(*this);
        tearDownTaken();
        releaseListeners();
    }
    if (!delivering) waitForDrain();
    com.uninitialize();
}

template <class CollectionPtr, class Receiver>
template <class Operation>
void DriverConnection<CollectionPtr, Receiver>::whileOpen(Operation&& operation) {
    Receiver* receiver = nullptr;
    std::optional<DeliveryScope> alive, command;  // left in reverse order, outside the lock
    {
        CheckedLock lock(mutex_);
        receiver = receiver_.get();
        if (receiver == nullptr) return;
        alive.emplace(receiver->rundown().get());
        command.emplace(receiver->commands().get());
    }
    if (*alive && *command) operation(*receiver);
}

}  // namespace Dravlo
