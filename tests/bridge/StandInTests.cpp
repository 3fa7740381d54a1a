// The JVM stand-in itself: JNI misuse is caught and named, and the Java-side
// behaviour later tests rely on (uncaught exceptions at detach, faults,
// frames, recording listeners on many threads) holds.

#include <gtest/gtest.h>

#include <cstdarg>
#include <thread>
#include <vector>

#include "support/jvm/GTestSupport.h"

namespace {

using StandIn::JvmStandIn;
using StandIn::RecordingListener;
using StandIn::ThrowableInfo;
using StandIn::Where;
using ::testing::HasSubstr;
using ::testing::StartsWith;
namespace Java = StandIn::Java;

// Misuse on purpose: violations are recorded, inspected and then cleared.
class Strictness : public ::testing::Test {
protected:
    void SetUp() override {
        vm.setViolationHandler([](const std::string&) {});
        StandIn::defineDravloContract(vm);
        env = vm.attachJavaThread();
    }
    void TearDown() override {
        vm.clearViolations();
        EXPECT_TRUE(StandIn::isBalanced(vm));
        vm.detachJavaThread();
    }
    std::string onlyViolation() {
        const auto all = vm.violations();
        EXPECT_EQ(all.size(), 1u) << ::testing::PrintToString(all);
        vm.clearViolations();
        return all.empty() ? "" : all.front();
    }

    JvmStandIn vm;
    JNIEnv* env = nullptr;
};

TEST_F(Strictness, DetachWithExceptionPending_IsNamed_AndStillCountedAsUncaught) {
    std::thread([&] {
        JNIEnv* own = nullptr;
        vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr);
        own->ThrowNew(own->FindClass(Java::IOException), "nobody caught me");
        vm.javaVm()->DetachCurrentThread();
    }).join();
    EXPECT_THAT(onlyViolation(), StartsWith("DetachCurrentThread: a Java exception is pending"));
    EXPECT_EQ(vm.uncaughtExceptions(), (std::vector<ThrowableInfo>{{Java::IOException, "nobody caught me"}}));
}

TEST_F(Strictness, CallWithExceptionPending_IsNamed) {
    auto thrown = vm.callNative([&](JNIEnv* env) {
        env->ThrowNew(env->FindClass(Java::IOException), "pending");
        // The exception-safe functions are fine.
        EXPECT_TRUE(env->ExceptionCheck());
        env->DeleteLocalRef(env->ExceptionOccurred());
        EXPECT_TRUE(vm.violations().empty());
        env->FindClass(Java::DialEvent);
    });
    EXPECT_EQ(thrown, (ThrowableInfo{Java::IOException, "pending"}));
    const std::string violation = onlyViolation();
    EXPECT_THAT(violation, StartsWith("FindClass: "));
    EXPECT_THAT(violation, HasSubstr("exception pending (java/io/IOException: pending)"));
}

TEST_F(Strictness, DeletedReferences_AreNamed) {
    vm.callNative([&](JNIEnv* env) {
        jclass cls = env->FindClass(Java::DialEvent);
        env->DeleteLocalRef(cls);
        EXPECT_EQ(env->GetObjectClass(cls), nullptr);
        EXPECT_THAT(onlyViolation(), StartsWith("GetObjectClass: use of deleted local reference"));

        jobject global = env->NewGlobalRef(env->FindClass(Java::KeyEvent));
        env->DeleteGlobalRef(global);
        env->DeleteGlobalRef(global);
        EXPECT_THAT(onlyViolation(), StartsWith("DeleteGlobalRef: use of deleted global reference"));

        jobject local = env->FindClass(Java::KeyEvent);
        env->DeleteGlobalRef(local);
        EXPECT_THAT(onlyViolation(), HasSubstr("is a local reference"));
    });
}

TEST_F(Strictness, EnvOnAnotherThread_IsNamed) {
    std::thread([&] { EXPECT_EQ(env->FindClass(Java::DialEvent), nullptr); }).join();
    EXPECT_THAT(onlyViolation(), StartsWith("FindClass: JNIEnv of thread"));
}

TEST_F(Strictness, LocalRefOnAnotherThread_IsNamed) {
    vm.callNative([&](JNIEnv* env) {
        jclass cls = env->FindClass(Java::DialEvent);
        std::thread([&] {
            JNIEnv* own = nullptr;
            ASSERT_EQ(vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr), JNI_OK);
            own->GetFieldID(cls, "fDeviceID", "I");
            vm.javaVm()->DetachCurrentThread();
        }).join();
    });
    EXPECT_THAT(onlyViolation(), HasSubstr("GetFieldID: local reference"));
}

TEST_F(Strictness, UnimplementedSlots_ReportTheirOwnNames) {
    vm.callNative([&](JNIEnv* env) {
        jclass cls = env->FindClass(Java::DialEvent);
        EXPECT_EQ(env->GetStaticIntField(cls, nullptr), 0);
        EXPECT_THAT(onlyViolation(), StartsWith("GetStaticIntField: not implemented"));
        // Through the table: the C++ wrapper would go to the ...V slot.
        env->functions->CallStaticVoidMethod(env, cls, nullptr, 1, 2);
        EXPECT_THAT(onlyViolation(), StartsWith("CallStaticVoidMethod: "));
        EXPECT_EQ(env->NewStringUTF("text"), nullptr);
        EXPECT_THAT(onlyViolation(), StartsWith("NewStringUTF: "));
    });
    EXPECT_EQ(vm.javaVm()->DestroyJavaVM(), JNI_ERR);
    EXPECT_THAT(onlyViolation(), StartsWith("DestroyJavaVM: "));
}

TEST_F(Strictness, TooManyLocalsInOneFrame_IsReported) {
    vm.callNative([&](JNIEnv* env) {
        for (int i = 0; i < 17; ++i) env->FindClass(Java::DialEvent);
    });
    EXPECT_THAT(onlyViolation(), HasSubstr("more than 16 live in one frame"));
}

TEST_F(Strictness, ArgumentOfTheWrongClass_IsReportedAndNotDelivered) {
    RecordingListener listener(vm);
    vm.callNative([&](JNIEnv* env) {
        jobject target = listener.newInstance(env);
        jmethodID onDial = env->GetMethodID(env->GetObjectClass(target), Java::OnDialEvent, Java::OnDialEventSignature);
        env->CallVoidMethod(target, onDial, vm.newInstance(env, Java::KeyEvent));
    });
    EXPECT_THAT(onlyViolation(), HasSubstr("is a applet/utils/dravlo/KeyEvent, not a applet/utils/dravlo/DialEvent"));
    EXPECT_EQ(listener.count(), 0u);
}

TEST_F(Strictness, CppExceptionLeavingANativeMethod_IsReported) {
    vm.callNative([](JNIEnv*) { throw std::runtime_error("escaped"); });
    EXPECT_THAT(onlyViolation(), HasSubstr("a C++ exception escaped into Java"));
}

// ---------------------------------------------------------------------------

class StandInBehaviour : public StandIn::JvmTest {};

TEST_F(StandInBehaviour, JavaThread_AttachReturnsItsEnvAndDetachIsRefused) {
    JNIEnv* again = nullptr;
    EXPECT_EQ(vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&again), nullptr), JNI_OK);
    EXPECT_EQ(again, env);
    EXPECT_EQ(vm.javaVm()->DetachCurrentThread(), JNI_ERR);
    EXPECT_EQ(vm.attaches(), 0u);
    void* other = env;
    std::thread([&] { EXPECT_EQ(vm.javaVm()->GetEnv(&other, JNI_VERSION_1_6), JNI_EDETACHED); }).join();
    EXPECT_EQ(other, nullptr);
}

TEST_F(StandInBehaviour, Faults_FindClassOnAttachedThreadsAndNewObject) {
    vm.failFindClass(Java::DialEvent, Where::AttachedThreadsOnly);
    vm.failNewObject();
    auto thrown = vm.callNative([&](JNIEnv* env) {
        jclass cls = env->FindClass(Java::DialEvent);
        ASSERT_NE(cls, nullptr) << "a Java thread still finds the class";
        EXPECT_EQ(env->NewObject(cls, env->GetMethodID(cls, "<init>", "()V")), nullptr);
    });
    EXPECT_EQ(thrown, (ThrowableInfo{"java/lang/OutOfMemoryError", "Java heap space"}));
    std::thread([&] {
        JNIEnv* own = nullptr;
        vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr);
        EXPECT_EQ(own->FindClass(Java::DialEvent), nullptr);
        EXPECT_EQ(vm.pendingException(), (ThrowableInfo{"java/lang/NoClassDefFoundError", Java::DialEvent}));
        own->ExceptionClear();
        vm.javaVm()->DetachCurrentThread();
    }).join();
}

TEST_F(StandInBehaviour, PopLocalFrame_KeepsOnlyTheResult) {
    vm.callNative([&](JNIEnv* env) {
        ASSERT_EQ(env->PushLocalFrame(4), JNI_OK);
        env->FindClass(Java::KeyEvent);
        jobject kept = env->PopLocalFrame(env->FindClass(Java::DialEvent));
        EXPECT_EQ(vm.liveLocalRefs(), 1u);
        EXPECT_EQ(vm.inspect(kept).className, "java/lang/Class");
    });
}

// CallVoidMethodV needs a va_list, which only a variadic function can make.
void callVoidV(JNIEnv* env, jobject target, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    env->CallVoidMethodV(target, method, args);
    va_end(args);
}

TEST_F(StandInBehaviour, RecordingListener_CopiesEventsFromManyThreads) {
    RecordingListener listener(vm);
    jobject target = nullptr;
    vm.callNative([&](JNIEnv* env) { target = env->NewGlobalRef(listener.newInstance(env)); });
    constexpr int kThreads = 3;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            JNIEnv* own = nullptr;
            vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr);
            jclass cls = own->FindClass(Java::KeyEvent);
            jobject event = own->NewObject(cls, own->GetMethodID(cls, "<init>", "()V"));
            own->SetIntField(event, own->GetFieldID(cls, "fButtonNumber", "I"), t);
            jmethodID onKey =
                own->GetMethodID(own->GetObjectClass(target), Java::OnKeyEvent, Java::OnKeyEventSignature);
            jvalue arg{};
            arg.l = event;
            if (t == 0) own->CallVoidMethod(target, onKey, event);
            if (t == 1) own->CallVoidMethodA(target, onKey, &arg);
            if (t == 2) callVoidV(own, target, onKey, event);
            vm.javaVm()->DetachCurrentThread();
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(listener.waitForCount(kThreads));
    std::vector<int> buttons;
    for (const auto& event : listener.events(Java::OnKeyEvent)) {
        EXPECT_EQ(event.className, Java::KeyEvent);
        EXPECT_EQ(event.at("fEventType"), 0);
        buttons.push_back(event.at("fButtonNumber"));
    }
    std::sort(buttons.begin(), buttons.end());
    EXPECT_EQ(buttons, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(vm.instancesCreated(Java::KeyEvent), std::size_t{kThreads});
    vm.callNative([&](JNIEnv* env) { env->DeleteGlobalRef(target); });
}

TEST_F(StandInBehaviour, ThrowingListener_LeavesItsExceptionPendingInTheCaller) {
    RecordingListener listener(vm, {.onKeyEvent = false});
    listener.throwFromCallbacks("java/lang/IllegalStateException", "listener failed");
    auto thrown = vm.callNative([&](JNIEnv* env) {
        jobject target = listener.newInstance(env);
        jmethodID onDial = env->GetMethodID(env->GetObjectClass(target), Java::OnDialEvent, Java::OnDialEventSignature);
        env->CallVoidMethod(target, onDial, vm.newInstance(env, Java::DialEvent, {{"fShuttleState", -3}}));
        EXPECT_TRUE(env->ExceptionCheck());
    });
    EXPECT_EQ(thrown, (ThrowableInfo{"java/lang/IllegalStateException", "listener failed"}));
    ASSERT_EQ(listener.count(), 1u);
    EXPECT_EQ(listener.events()[0].at("fShuttleState"), -3);
}

}  // namespace
