// JniLookup and the exception types: exact failure wording, no Java error
// left pending after a failed lookup, and usable identifiers on success.

#include <gtest/gtest.h>

#include "bridge/ClassNames.h"
#include "bridge/Exceptions.h"
#include "bridge/JniLookup.h"
#include "bridge/Messages.h"
#include "support/jvm/GTestSupport.h"

namespace {

using namespace Dravlo;
using StandIn::JvmStandIn;
namespace Java = StandIn::Java;

std::string classNotFound(const std::string& name) {
    return Messages::ClassPrefix + name + Messages::ClassNotFoundSuffix;
}
std::string memberNotFound(const std::string& member, const std::string& owner) {
    return member + Messages::MemberNotFoundIn + owner;
}

// Runs `lookup` as a native method; the JNIException's text, or "" when none
// was thrown. A failed lookup must leave no Java error pending behind it.
template <class Lookup>
std::string lookupFailure(JvmStandIn& vm, Lookup lookup) {
    std::string message;
    auto thrown = vm.callNative([&](JNIEnv* env) {
        try {
            lookup(JniLookup(env), env);
        } catch (const JNIException& failure) {
            message = failure.what();
            EXPECT_FALSE(env->ExceptionCheck()) << "still pending after: " << message;
        }
    });
    EXPECT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
    return message;
}

class LookupTest : public StandIn::JvmTest {};

TEST(ExceptionTypes, DefaultAndGivenMessages) {
    EXPECT_STREQ(JNIException().what(), Messages::JniExceptionDefault);
    EXPECT_STREQ(IOException().what(), Messages::IoExceptionDefault);
    try {
        throw JNIException("lookup failed");
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "lookup failed");
    }
    try {
        throw IOException("device gone");
    } catch (const std::exception& failure) {
        EXPECT_STREQ(failure.what(), "device gone");
    }
}

TEST(JavaContractNames, MatchTheLibraryConstants) {
    EXPECT_STREQ(DRAVLO_DIAL_EVENT_CLASS, Java::DialEvent);
    EXPECT_STREQ(DRAVLO_KEY_EVENT_CLASS, Java::KeyEvent);
    EXPECT_STREQ(DRAVLO_KEY_COMMAND_CLASS, Java::KeyCommand);
    EXPECT_STREQ(Messages::JavaIOExceptionClass, Java::IOException);
}

TEST_F(LookupTest, MissingClass_ClassWording) {
    vm.removeClass(Java::KeyEvent);
    const std::string expected = classNotFound(Java::KeyEvent);
    EXPECT_EQ(lookupFailure(vm, [](const JniLookup& l, JNIEnv*) { l.findClass(DRAVLO_KEY_EVENT_CLASS); }), expected);
    // A class that fails inside a member lookup is reported with the class wording.
    EXPECT_EQ(
        lookupFailure(vm, [](const JniLookup& l, JNIEnv*) { l.fieldId(DRAVLO_KEY_EVENT_CLASS, "fDeviceID", "I"); }),
        expected);
    EXPECT_EQ(
        lookupFailure(vm, [](const JniLookup& l, JNIEnv*) { l.methodId(DRAVLO_KEY_EVENT_CLASS, "<init>", "()V"); }),
        expected);
}

TEST_F(LookupTest, MissingField_NamesFieldAndClass) {
    vm.removeField(Java::DialEvent, "fShuttleState");
    EXPECT_EQ(lookupFailure(
                  vm, [](const JniLookup& l, JNIEnv*) { l.fieldId(DRAVLO_DIAL_EVENT_CLASS, "fShuttleState", "I"); }),
              memberNotFound("fShuttleState", Java::DialEvent));
    // A field of another type is not the field asked for.
    EXPECT_EQ(
        lookupFailure(vm, [](const JniLookup& l, JNIEnv*) { l.fieldId(DRAVLO_DIAL_EVENT_CLASS, "fDeviceID", "J"); }),
        memberNotFound("fDeviceID", Java::DialEvent));
}

TEST_F(LookupTest, MissingMethod_ByClassNamesTheClass_ByObjectEndsInDots) {
    vm.removeMethod(Java::DialEvent, "<init>", "()V");
    EXPECT_EQ(
        lookupFailure(vm, [](const JniLookup& l, JNIEnv*) { l.methodId(DRAVLO_DIAL_EVENT_CLASS, "<init>", "()V"); }),
        memberNotFound("<init>", Java::DialEvent));

    StandIn::RecordingListener dialOnly(vm, {.onKeyEvent = false});
    EXPECT_EQ(lookupFailure(vm,
                            [&](const JniLookup& l, JNIEnv* env) {
                                l.methodId(dialOnly.newInstance(env), Java::OnKeyEvent, Java::OnKeyEventSignature);
                            }),
              memberNotFound(Java::OnKeyEvent, Messages::UnnamedClass));
}

TEST_F(LookupTest, Found_IdentifiersWorkAndNoLocalIsLeft) {
    StandIn::RecordingListener listener(vm);
    auto thrown = vm.callNative([&](JNIEnv* env) {
        JniLookup lookup(env);
        const jfieldID device = lookup.fieldId(DRAVLO_DIAL_EVENT_CLASS, "fDeviceID", "I");
        const jmethodID ctor = lookup.methodId(DRAVLO_DIAL_EVENT_CLASS, "<init>", "()V");
        jobject target = listener.newInstance(env);
        const jmethodID callback = lookup.methodId(target, Java::OnDialEvent, Java::OnDialEventSignature);
        EXPECT_EQ(vm.liveLocalRefs(), 1u) << "lookups must not leave class references behind";

        LocalRef<jclass> cls = lookup.findClass(DRAVLO_DIAL_EVENT_CLASS);
        LocalRef<> event(env, env->NewObject(cls.get(), ctor));
        env->SetIntField(event.get(), device, 42);
        env->CallVoidMethod(target, callback, event.get());
    });
    EXPECT_FALSE(thrown.has_value());
    ASSERT_EQ(listener.count(), 1u);
    EXPECT_EQ(listener.events()[0].at("fDeviceID"), 42);
}

TEST(LookupInherited, FieldsDeclaredOnASuperclass_AreFound) {
    JvmStandIn vm;
    StandIn::failTestsOnViolation(vm);
    StandIn::defineDravloContract(vm, {.fieldsInSuperclass = true});
    auto thrown = vm.callNative([&](JNIEnv* env) {
        JniLookup lookup(env);
        for (const char* field : {"fDeviceID", "fEventType", "fShuttleState", "fJogDirection"})
            EXPECT_NE(lookup.fieldId(DRAVLO_DIAL_EVENT_CLASS, field, "I"), nullptr) << field;
    });
    EXPECT_FALSE(thrown.has_value());
    EXPECT_TRUE(StandIn::isBalanced(vm));
}

}  // namespace
