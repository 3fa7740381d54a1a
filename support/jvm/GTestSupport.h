#pragma once
// GoogleTest glue for the JVM stand-in: violations fail the running test, and
// a fixture checks after every test that nothing is left over.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include "support/jvm/Contract.h"
#include "support/jvm/JvmStandIn.h"

namespace StandIn {

/// How GoogleTest shows a Java exception in failure messages.
inline void PrintTo(const ThrowableInfo& thrown, std::ostream* out) {
    *out << thrown.className << ": \"" << thrown.message << '"';
}

/// Every JNI violation becomes a non-fatal failure of the current test.
inline void failTestsOnViolation(JvmStandIn& vm) {
    vm.setViolationHandler([](const std::string& message) { ADD_FAILURE() << "JNI violation: " << message; });
}

/// Success when no reference, native attachment, pending exception or violation is left.
inline ::testing::AssertionResult isBalanced(const JvmStandIn& vm) {
    const std::string leftOver = vm.imbalance();
    if (leftOver.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << leftOver;
}

/// A fresh stand-in per test with the Dravlo contract defined; the test's
/// thread is a Java thread (`env`). TearDown checks the balances before the
/// Java thread ends, so a leaked local reference is reported, not freed.
class JvmTest : public ::testing::Test {
protected:
    void SetUp() override {
        failTestsOnViolation(vm);
        defineDravloContract(vm, contract());
        env = vm.attachJavaThread();
    }
    void TearDown() override {
        EXPECT_TRUE(isBalanced(vm));
        vm.detachJavaThread();
    }
    /// Override to leave parts of the contract out.
    virtual ContractOptions contract() const { return {}; }

    JvmStandIn vm;
    JNIEnv* env = nullptr;
};

}  // namespace StandIn
