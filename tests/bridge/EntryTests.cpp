// How entry points report failures to Java: throwJavaIOException, and the
// guardEntry / swallowEntry shells that keep every C++ exception out of Java.

#include <comdef.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "bridge/Exceptions.h"
#include "bridge/JavaExceptions.h"
#include "bridge/Messages.h"
#include "support/jvm/GTestSupport.h"

namespace {

using namespace Dravlo;
using StandIn::ThrowableInfo;
namespace Java = StandIn::Java;

constexpr const char* kFixedMessage = Messages::JogDialInitFailed;

struct Failure {
    const char* name;
    std::function<void()> raise;
    std::string javaMessage;  // what guardEntry hands to Java
};

std::vector<Failure> failures() {
    return {
        {"JNIException", [] { throw JNIException("fDeviceID not found in X"); }, "fDeviceID not found in X"},
        {"IOException", [] { throw IOException("Could not get JogDial device"); }, "Could not get JogDial device"},
        {"JNIException()", [] { throw JNIException(); }, Messages::JniExceptionDefault},
        {"std::runtime_error", [] { throw std::runtime_error("runtime"); }, "runtime"},
        {"std::out_of_range", [] { throw std::out_of_range("range"); }, "range"},
        {"int", [] { throw 42; }, kFixedMessage},
        {"_com_error", [] { throw _com_error(E_POINTER); }, kFixedMessage},
    };
}

class EntryTest : public StandIn::JvmTest {};

TEST_F(EntryTest, ThrowJavaIOException_RaisesIOExceptionWithTheMessage) {
    EXPECT_EQ(vm.callNative([](JNIEnv* env) { throwJavaIOException(env, std::string("from a string")); }),
              (ThrowableInfo{Java::IOException, "from a string"}));
    EXPECT_EQ(vm.callNative([](JNIEnv* env) { throwJavaIOException(env, "from characters"); }),
              (ThrowableInfo{Java::IOException, "from characters"}));
}

TEST_F(EntryTest, ThrowJavaIOException_ClassLookupFails_LookupErrorStands) {
    vm.failFindClass(Java::IOException);
    // Had ThrowNew been called over the pending error, the stand-in would
    // report it and the thrown class would be IOException.
    EXPECT_EQ(vm.callNative([](JNIEnv* env) { throwJavaIOException(env, "lost"); }),
              (ThrowableInfo{"java/lang/NoClassDefFoundError", Java::IOException}));
}

TEST_F(EntryTest, ThrowJavaIOException_ErrorAlreadyPending_LeftStanding) {
    auto thrown = vm.callNative([&](JNIEnv* env) {
        vm.throwJava(env, "java/lang/IllegalStateException", "first");
        throwJavaIOException(env, "second");
    });
    EXPECT_EQ(thrown, (ThrowableInfo{"java/lang/IllegalStateException", "first"}));
}

TEST_F(EntryTest, GuardEntry_EveryFailureReachesJavaAsIOException) {
    for (const Failure& failure : failures()) {
        auto thrown = vm.callNative([&](JNIEnv* env) { guardEntry(env, kFixedMessage, failure.raise); });
        EXPECT_EQ(thrown, (ThrowableInfo{Java::IOException, failure.javaMessage})) << failure.name;
    }
}

TEST_F(EntryTest, GuardEntry_NormalReturn_RaisesNothing) {
    bool ran = false;
    EXPECT_FALSE(vm.callNative([&](JNIEnv* env) { guardEntry(env, kFixedMessage, [&] { ran = true; }); }));
    EXPECT_TRUE(ran);
}

TEST_F(EntryTest, SwallowEntry_SwallowsEveryFailureSilently) {
    for (const Failure& failure : failures()) {
        bool reached = false;
        auto thrown = vm.callNative([&](JNIEnv*) {
            swallowEntry(failure.raise);
            reached = true;
        });
        EXPECT_TRUE(reached) << failure.name;
        EXPECT_FALSE(thrown.has_value()) << failure.name;
    }
}

}  // namespace
