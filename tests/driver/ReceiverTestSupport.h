#pragma once
// Shared by the jog dial and keypad receiver tests: native listeners that
// record what a receiver hands them, a device taken from a simulated
// collection, and the fixture that checks the balances after every test.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>
#include <type_traits>
#include <vector>

#include "bridge/EventRecords.h"
#include "com/AxisDriver.h"
#include "com/DravloModule.h"
#include "simulator/AxisSimulator.h"

namespace DriverTests {

/// One record as a native listener received it: key records as
/// {deviceId, buttonNumber, eventType}, dial records as
/// {deviceId, shuttleState, jogDirection, eventType}.
struct Heard {
    const void* listener;
    std::vector<std::int32_t> fields;
    bool operator==(const Heard&) const = default;
};

inline void PrintTo(const Heard& heard, std::ostream* out) {
    *out << (heard.fields.size() == 3 ? "key{" : "dial{");
    for (std::int32_t field : heard.fields) *out << field << ' ';
    *out << "} at " << heard.listener;
}

/// Every record received by any listener of one test, in order, with the
/// thread it arrived on. Thread-safe.
class HeardLog {
public:
    void add(Heard heard) {
        std::lock_guard lock(mutex_);
        heard_.push_back(std::move(heard));
        threads_.push_back(std::this_thread::get_id());
    }
    std::vector<Heard> heard() const {
        std::lock_guard lock(mutex_);
        return heard_;
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Heard> heard_;
    std::vector<std::thread::id> threads_;
};

/// A native key and dial listener that appends what it hears to a shared log.
class RecordingNativeListener final : public Dravlo::KeyListener, public Dravlo::DialListener {
public:
    explicit RecordingNativeListener(std::shared_ptr<HeardLog> log) : log_(std::move(log)) {}
    void onKeyEvent(const Dravlo::KeyEventRecord& e) override {
        log_->add(key(this, e.deviceId, e.buttonNumber, e.eventType));
    }
    void onDialEvent(const Dravlo::DialEventRecord& e) override {
        log_->add(dial(this, e.deviceId, e.shuttleState, e.jogDirection, e.eventType));
    }

    static Heard key(const RecordingNativeListener* who, std::int32_t device, std::int32_t button, std::int32_t type) {
        return {who, {device, button, type}};
    }
    static Heard dial(const RecordingNativeListener* who, std::int32_t device, std::int32_t shuttle,
                      std::int32_t direction, std::int32_t type) {
        return {who, {device, shuttle, direction, type}};
    }

private:
    std::shared_ptr<HeardLog> log_;
};

/// The module object every live sink locks (the program links the library's
/// static objects).
inline LONG moduleLockCount() {
    Dravlo::CAtlModule* module = Dravlo::currentModule();
    return module != nullptr ? module->GetLockCount() : -1;
}

/// A receiver test: COM entered on the test thread, a simulator, and
/// afterwards no live sink (module lock count 0) and no simulated object.
/// `Collection` and `Device` are the Axis interfaces of the receiver's kind.
template <class Collection, class Device>
class ReceiverTest : public ::testing::Test {
protected:
    static constexpr AxisSim::Kind kind =
        std::is_same_v<Collection, IJogDialCollection> ? AxisSim::Kind::JogDial : AxisSim::Kind::KeyPad;

    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        ASSERT_EQ(0, moduleLockCount()) << "no module object, or a sink left from before";
    }
    void TearDown() override {
        EXPECT_EQ(0, moduleLockCount()) << "a sink outlived its receiver";
        EXPECT_EQ(0, sim.liveObjects()) << sim.log().dump();
        CoUninitialize();
    }

    /// Device `index` of a fresh simulated collection: one reference, which
    /// is the last once the collection is gone (it is released here). The log
    /// is cleared, so it shows only what happens to the device afterwards.
    Dravlo::ComRef<Device> takeDevice(int index = 0) {
        void* raw = nullptr;
        EXPECT_EQ(S_OK, sim.createDriverObject(kind, __uuidof(Collection), &raw));
        auto* collection = static_cast<Collection*>(raw);
        Dravlo::ComRef<Device> device;
        if (collection != nullptr) {
            collection->GetItem(index, device.put());
            collection->Release();
        }
        sim.log().clear();
        return device;
    }
    std::shared_ptr<AxisSim::DeviceProbe> probe(int index = 0) const { return sim.device(kind, index); }
    std::string prefix(int index = 0) const { return probe(index)->name() + "."; }

    AxisSim::Simulator sim;
    std::shared_ptr<HeardLog> log = std::make_shared<HeardLog>();
};

}  // namespace DriverTests
