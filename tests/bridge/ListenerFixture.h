#pragma once
// The fixture of the listener tests: a fresh stand-in with the Java contract,
// the test's thread a Java thread, and a ForwardingDriver (built like the
// product's drivers) bound on it. Events are fed on new native threads, which
// the forwarding attaches itself, unless a test says otherwise. TearDown
// releases the driver's listeners as uninitialisation does, then checks that
// no reference, attachment, pending exception or violation is left.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <optional>
#include <thread>
#include <vector>

#include "support/jvm/GTestSupport.h"
#include "tests/jvm/native/ForwardingDriver.h"

namespace Dravlo::Testing {

/// A listener object made and registered inside one native call, as Java
/// would call the registration entry point.
struct Registration {
    std::uint64_t object = 0;                      ///< ObjectView::id of the listener object
    std::optional<StandIn::ThrowableInfo> thrown;  ///< what the entry point raised in Java
};

/// Counts ExceptionDescribe calls made through one environment, by giving it
/// a copy of its function table with that slot wrapped; restores the table
/// at scope end. Construct and destroy on the environment's own thread.
class DescribeCounter {
public:
    DescribeCounter(StandIn::JvmStandIn& vm, JNIEnv* env);
    ~DescribeCounter();
    DescribeCounter(const DescribeCounter&) = delete;
    DescribeCounter& operator=(const DescribeCounter&) = delete;

    /// The exceptions that were pending when ExceptionDescribe was called.
    const std::vector<StandIn::ThrowableInfo>& described() const { return described_; }

private:
    static void JNICALL describe(JNIEnv* env);

    StandIn::JvmStandIn& vm_;
    JNIEnv* env_;
    const JNINativeInterface_* original_;
    JNINativeInterface_ table_;
    std::vector<StandIn::ThrowableInfo> described_;
};

class ListenerTest : public StandIn::JvmTest {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Registers a new object of `className` (a listener class of the
    /// stand-in) through the dial or key registration entry point.
    Registration registerDial(const std::string& className);
    Registration registerKey(const std::string& className);
    /// The registration entry points called with a null listener.
    std::optional<StandIn::ThrowableInfo> registerDialNull();
    std::optional<StandIn::ThrowableInfo> registerKeyNull();

    /// Forwards one event on a new native thread and waits for it; the id of that thread.
    std::thread::id fireDial(const DialEventRecord& record);
    std::thread::id fireKey(const KeyEventRecord& record);

    /// Events the stand-in has built so far.
    std::size_t dialEventsBuilt() const { return vm.instancesCreated(StandIn::Java::DialEvent); }
    std::size_t keyEventsBuilt() const { return vm.instancesCreated(StandIn::Java::KeyEvent); }

    /// Runs `body` on a new thread and waits for it. A body still running
    /// after `limit` (a deadlock) ends the program with a failure, since its
    /// thread could never be joined.
    static void finishesWithin(std::chrono::seconds limit, const std::function<void()>& body);

    ForwardingDriver driver;
};

/// A counter-clockwise jog, a shuttle position and a button, as receivers build them.
inline constexpr DialEventRecord CounterClockwiseJog{7, 0, 1, 1};
inline constexpr DialEventRecord ShuttleAt(std::int32_t position) { return {8, position, 0, 0}; }
inline constexpr KeyEventRecord ButtonDown{3, 12, 0};
inline constexpr KeyEventRecord ButtonUp{3, 12, 1};

}  // namespace Dravlo::Testing
