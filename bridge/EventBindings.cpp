#include "bridge/EventBindings.h"

#include "bridge/ClassNames.h"
#include "bridge/JniLookup.h"

namespace Dravlo {

namespace {

constexpr const char IntSignature[] = "I";
constexpr const char Constructor[] = "<init>";
constexpr const char NoArguments[] = "()V";

// Finds the class and makes an instance with the no-argument constructor.
// Null when NewObject fails; its Java error is reported and cleared, since
// the event is dropped and nothing else would ever look at it.
LocalRef<jobject> newEventObject(JNIEnv* env, const std::string& className, jmethodID constructor) {
    LocalRef<jclass> cls = JniLookup(env).findClass(className);
    LocalRef<jobject> object(env, env->NewObject(cls.get(), constructor));
    if (!object && env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
    }
    return object;
}

}  // namespace

void DialEventBinding::bind(JNIEnv* env) {
    JniLookup lookup(env);
    deviceId_ = lookup.fieldId(DialEventClassName, "fDeviceID", IntSignature);
    eventType_ = lookup.fieldId(DialEventClassName, "fEventType", IntSignature);
    shuttleState_ = lookup.fieldId(DialEventClassName, "fShuttleState", IntSignature);
    jogDirection_ = lookup.fieldId(DialEventClassName, "fJogDirection", IntSignature);
    constructor_ = lookup.methodId(DialEventClassName, Constructor, NoArguments);
}

LocalRef<jobject> DialEventBinding::create(JNIEnv* env, const DialEventRecord& record) const {
    LocalRef<jobject> event = newEventObject(env, DialEventClassName, constructor_);
    if (event) {
        env->SetIntField(event.get(), deviceId_, record.deviceId);
        env->SetIntField(event.get(), eventType_, record.eventType);
        env->SetIntField(event.get(), shuttleState_, record.shuttleState);
        env->SetIntField(event.get(), jogDirection_, record.jogDirection);
    }
    return event;
}

void KeyEventBinding::bind(JNIEnv* env) {
    JniLookup lookup(env);
    deviceId_ = lookup.fieldId(KeyEventClassName, "fDeviceID", IntSignature);
    eventType_ = lookup.fieldId(KeyEventClassName, "fEventType", IntSignature);
    buttonNumber_ = lookup.fieldId(KeyEventClassName, "fButtonNumber", IntSignature);
    constructor_ = lookup.methodId(KeyEventClassName, Constructor, NoArguments);
}

LocalRef<jobject> KeyEventBinding::create(JNIEnv* env, const KeyEventRecord& record) const {
    LocalRef<jobject> event = newEventObject(env, KeyEventClassName, constructor_);
    if (event) {
        env->SetIntField(event.get(), deviceId_, record.deviceId);
        env->SetIntField(event.get(), eventType_, record.eventType);
        env->SetIntField(event.get(), buttonNumber_, record.buttonNumber);
    }
    return event;
}

}  // namespace Dravlo
