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
    deviceId_.store(lookup.fieldId(DialEventClassName, "fDeviceID", IntSignature), std::memory_order_relaxed);
    eventType_.store(lookup.fieldId(DialEventClassName, "fEventType", IntSignature), std::memory_order_relaxed);
    shuttleState_.store(lookup.fieldId(DialEventClassName, "fShuttleState", IntSignature), std::memory_order_relaxed);
    jogDirection_.store(lookup.fieldId(DialEventClassName, "fJogDirection", IntSignature), std::memory_order_relaxed);
    constructor_.store(lookup.methodId(DialEventClassName, Constructor, NoArguments), std::memory_order_relaxed);
}

LocalRef<jobject> DialEventBinding::create(JNIEnv* env, const DialEventRecord& record) const {
    LocalRef<jobject> event = newEventObject(env, DialEventClassName, constructor_.load(std::memory_order_relaxed));
    if (event) {
        env->SetIntField(event.get(), deviceId_.load(std::memory_order_relaxed), record.deviceId);
        env->SetIntField(event.get(), eventType_.load(std::memory_order_relaxed), record.eventType);
        env->SetIntField(event.get(), shuttleState_.load(std::memory_order_relaxed), record.shuttleState);
        env->SetIntField(event.get(), jogDirection_.load(std::memory_order_relaxed), record.jogDirection);
    }
    return event;
}

void KeyEventBinding::bind(JNIEnv* env) {
    JniLookup lookup(env);
    deviceId_.store(lookup.fieldId(KeyEventClassName, "fDeviceID", IntSignature), std::memory_order_relaxed);
    eventType_.store(lookup.fieldId(KeyEventClassName, "fEventType", IntSignature), std::memory_order_relaxed);
    buttonNumber_.store(lookup.fieldId(KeyEventClassName, "fButtonNumber", IntSignature), std::memory_order_relaxed);
    constructor_.store(lookup.methodId(KeyEventClassName, Constructor, NoArguments), std::memory_order_relaxed);
}

LocalRef<jobject> KeyEventBinding::create(JNIEnv* env, const KeyEventRecord& record) const {
    LocalRef<jobject> event = newEventObject(env, KeyEventClassName, constructor_.load(std::memory_order_relaxed));
    if (event) {
        env->SetIntField(event.get(), deviceId_.load(std::memory_order_relaxed), record.deviceId);
        env->SetIntField(event.get(), eventType_.load(std::memory_order_relaxed), record.eventType);
        env->SetIntField(event.get(), buttonNumber_.load(std::memory_order_relaxed), record.buttonNumber);
    }
    return event;
}

}  // namespace Dravlo
