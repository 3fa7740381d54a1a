#pragma once
// A driver's connection: its collection and the receiver of device 0, with
// the one lock that state changes under. Portable: the COM bookkeeping, the
// class id, the collection and the receiver are the caller's types, so the
// native sanitizer builds run this bookkeeping on stand-ins. The collection
// is made by createAxisCollection(clsid, holder): AxisDriver.h's in the
// library, a stand-in's (found by its argument types) elsewhere.

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "bridge/Exceptions.h"
#include "com/CheckedMutex.h"
#include "com/DeliveryRundown.h"
#ifdef _WIN32
#include "com/AxisDriver.h"
#endif
#include "driver/DriverOwned.h"
#include "driver/LibraryPin.h"

namespace Dravlo {

/// Count of the collection: preset to 0, the HRESULT ignored. Calling through
/// an empty holder raises _com_error(E_POINTER).
template <class CollectionPtr>
int queryDeviceCount(CollectionPtr& collection) {
    int count = 0;
    collection->GetCount(&count);
    return count;
}

/// What a driver holds between Java calls: its Axis collection and the
/// receiver of device 0, and the one operation (connect or tear down) that
/// may change them at a time.
///
/// Thread rules, enforced here (debug builds assert that only the thread that
/// began an operation tears down or ends it):
/// - Every member is guarded by mutex_, which is never held across a call into
///   Java or the device: an operation takes what it changes out under the lock
///   and works on it outside.
/// - One operation at a time. A caller that finds another one in progress
///   waits for it, unless the calling thread is itself delivering an event
///   (a listener's callback) or runs that operation further up its own stack:
///   every operation calls the device, which may be waiting for that very
///   delivery (a device may deliver and unadvise under one lock). Then an
///   uninitialise refuses the receiver's entries, releases the listeners and
///   returns at once (a connect in progress tears its connection down before
///   it ends), and an initialise fails. So no operation ever waits for
///   another in a cycle.
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
    /// listener that uninitialises while this runs has the new connection
    /// torn down before this returns (and this call's COM balanced, when the
    /// listener ran on this thread). Throws IOException, JNIException or
    /// _com_error; a failure leaves nothing behind: the new collection is
    /// released and this call's CoInitialize balanced.
    template <class Com, class Clsid, class Build>
    void connect(Com& com, const Clsid& clsid, const char* comFailureMessage, const char* busyMessage,
                 std::atomic<std::int32_t>& deviceCount, Build&& build) DRAVLO_EXCLUDES(mutex_);

    /// uninitialize: tears the connection down (collection first, then the
    /// receiver: no new delivery or command, wait for commands, Stop, unhook,
    /// wait for deliveries unless this thread delivers, Stop, Close, Release),
    /// then runs `releaseListeners`, then balances this thread's COM debt. A
    /// teardown already in progress elsewhere is waited for (see above) and
    /// nothing more is done but the COM debt. One that cannot wait (see
    /// above) releases the listeners and leaves the rest, and a COM debt of
    /// the operation in progress on this thread, to that operation.
    template <class Com, class ReleaseListeners>
    void disconnect(Com& com, ReleaseListeners&& releaseListeners) DRAVLO_EXCLUDES(mutex_);

    /// Runs `operation(receiver)` inside the receiver's rundowns, when there is
    /// a receiver and its teardown has not begun; otherwise nothing.
    template <class Operation>
    void whileOpen(Operation&& operation) DRAVLO_EXCLUDES(mutex_);

private:
    enum class Phase { None, Connect, Teardown };

    /// Waits (under `lock`) until no operation is in progress and starts
    /// `kind`; returns false without waiting or starting it when the calling
    /// thread delivers or runs the operation in progress.
    bool begin(CheckedLock& lock, Phase kind, bool delivering) DRAVLO_REQUIRES(mutex_);
    /// Ends the operation in progress and returns true. For a connect (with
    /// `balanceCom`): unless a listener asked for a teardown meanwhile; then
    /// returns false with that request taken, and *balanceCom telling whether
    /// this thread's COM goes with it.
    bool end(bool* balanceCom = nullptr) noexcept DRAVLO_EXCLUDES(mutex_);
    /// Ends the operation this thread began, however its scope is left,
    /// unless it was ended already.
    class Ending {
    public:
        explicit Ending(DriverConnection& connection) noexcept : connection_(connection) {}
        Ending(const Ending&) = delete;
        Ending& operator=(const Ending&) = delete;
        ~Ending() {
            if (!ended_) connection_.end();
        }
        void ended() noexcept { ended_ = true; }

    private:
        DriverConnection& connection_;
        bool ended_ = false;
    };
    /// Takes the collection and receiver out and tears them down, outside the lock.
    void tearDownTaken() DRAVLO_EXCLUDES(mutex_);
    /// On a thread that may wait: until every receiver torn down so far has
    /// no delivery left.
    void waitForDrain() DRAVLO_EXCLUDES(mutex_);

    CheckedMutex mutex_;
    std::condition_variable idle_;  // an operation ended
    Phase busy_ DRAVLO_GUARDED_BY(mutex_) = Phase::None;
    // The thread that runs the operation in progress.
    std::thread::id busyThread_ DRAVLO_GUARDED_BY(mutex_);
    // A listener uninitialised while the connect in progress ran ...
    bool pendingTeardown_ DRAVLO_GUARDED_BY(mutex_) = false;
    // ... on the connect's own thread: its COM goes with the teardown.
    bool pendingCom_ DRAVLO_GUARDED_BY(mutex_) = false;
    DriverOwned<CollectionPtr> collection_ DRAVLO_GUARDED_BY(mutex_);
    DriverOwned<Receiver> receiver_ DRAVLO_GUARDED_BY(mutex_);
    // Rundowns of torn-down receivers that may still have deliveries running.
    std::vector<std::shared_ptr<DeliveryRundown>> draining_ DRAVLO_GUARDED_BY(mutex_);
};

template <class CollectionPtr, class Receiver>
bool DriverConnection<CollectionPtr, Receiver>::begin(CheckedLock& lock, Phase kind, bool delivering) {
    const std::thread::id self = std::this_thread::get_id();
    while (busy_ != Phase::None) {
        if (delivering || busyThread_ == self) return false;
        lock.wait(idle_);
    }
    busy_ = kind;
    busyThread_ = self;
    return true;
}

template <class CollectionPtr, class Receiver>
bool DriverConnection<CollectionPtr, Receiver>::end(bool* balanceCom) noexcept {
    {
        CheckedLock lock(mutex_);
        assert(busyThread_ == std::this_thread::get_id());  // only the thread that began it ends it
        // Tested and ended under one lock: a request that comes later finds no
        // connect in progress and is not left behind for the next one.
        if (balanceCom != nullptr && std::exchange(pendingTeardown_, false)) {
            *balanceCom = std::exchange(pendingCom_, false);
            return false;
        }
        busy_ = Phase::None;
        pendingTeardown_ = pendingCom_ = false;
    }
    idle_.notify_all();
    return true;
}

template <class CollectionPtr, class Receiver>
void DriverConnection<CollectionPtr, Receiver>::tearDownTaken() {
    DriverOwned<CollectionPtr> collection;
    Receiver* receiver = nullptr;
    {
        CheckedLock lock(mutex_);
        // One tearing-down thread: the one whose operation is in progress.
        assert(busy_ != Phase::None && busyThread_ == std::this_thread::get_id());
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
template <class Com, class Clsid, class Build>
void DriverConnection<CollectionPtr, Receiver>::connect(Com& com, const Clsid& clsid, const char* comFailureMessage,
                                                        const char* busyMessage, std::atomic<std::int32_t>& deviceCount,
                                                        Build&& build) {
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
    Ending ending(*this);

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
    if (hooked != nullptr) {
        hooked->open();
        hooked->start();
    }
    // A listener that uninitialised meanwhile has released the listeners and
    // left the teardown to this call.
    bool balanceCom = false;
    while (!end(&balanceCom)) {
        tearDownTaken();
        if (balanceCom) com.uninitialize();
    }
    ending.ended();
}

template <class CollectionPtr, class Receiver>
template <class Com, class ReleaseListeners>
void DriverConnection<CollectionPtr, Receiver>::disconnect(Com& com, ReleaseListeners&& releaseListeners) {
    const bool delivering = DeliveryRundown::callingThreadDelivers();
    bool begun = false, ours = false, withinOwnOperation = false;
    {
        CheckedLock lock(mutex_);
        // A teardown in progress is waited for and not repeated; a connect in
        // progress is waited for and then torn down.
        const Phase inProgress = busy_;
        begun = begin(lock, Phase::Teardown, delivering);
        if (begun) {
            ours = inProgress != Phase::Teardown;
            if (!ours) busy_ = Phase::None;
        } else {
            // The operation in progress cannot be waited for from here. The
            // receiver takes no more entries now; a connect tears its
            // connection down before it ends, and balances the COM of its own
            // thread then, as its objects are still in use until that.
            if (receiver_) receiver_->refuseEntries();
            withinOwnOperation = busyThread_ == std::this_thread::get_id();
            if (busy_ == Phase::Connect) {
                pendingTeardown_ = true;
                pendingCom_ = pendingCom_ || withinOwnOperation;
            }
        }
    }
    if (ours) {
        const Ending ending(*this);
        tearDownTaken();
        releaseListeners();
    } else if (!begun) {
        releaseListeners();  // so that no listener call starts once this returns
    }
    if (!delivering) waitForDrain();
    if (!withinOwnOperation) com.uninitialize();
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
