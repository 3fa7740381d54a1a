#pragma once
// The limit of the forwarding figures: the JNI sequence the design fixes for
// one dial event, written out by hand with nothing around it. Attach (or not),
// find the event class by name, make the object, write its four fields, call
// the listener, drop both local references, detach. Member IDs and the
// listener's global reference are taken once, as the library takes them at
// initialisation and registration. Used on the JVM stand-in and the real JVM.

#include <jni.h>

#include "bridge/EventRecords.h"

namespace DravloBench {

class HandForwarding {
public:
    /// Looks up the event's members and takes a global reference to
    /// `listener` (borrowed). False, with the Java error cleared, on failure.
    bool bind(JNIEnv* env, jobject listener) {
        jclass cls = env->FindClass(DialEventClass);
        if (cls == nullptr) return fail(env);
        deviceId_ = env->GetFieldID(cls, "fDeviceID", "I");
        eventType_ = env->GetFieldID(cls, "fEventType", "I");
        shuttleState_ = env->GetFieldID(cls, "fShuttleState", "I");
        jogDirection_ = env->GetFieldID(cls, "fJogDirection", "I");
        constructor_ = env->GetMethodID(cls, "<init>", "()V");
        env->DeleteLocalRef(cls);
        if (!deviceId_ || !eventType_ || !shuttleState_ || !jogDirection_ || !constructor_) return fail(env);
        jclass listenerClass = env->GetObjectClass(listener);
        callback_ = env->GetMethodID(listenerClass, "onDialEvent", "(Lapplet/utils/dravlo/DialEvent;)V");
        env->DeleteLocalRef(listenerClass);
        if (callback_ == nullptr) return fail(env);
        listener_ = env->NewGlobalRef(listener);
        return listener_ != nullptr;
    }
    /// Deletes the listener's global reference.
    void release(JNIEnv* env) {
        if (listener_ != nullptr) env->DeleteGlobalRef(listener_);
        listener_ = nullptr;
    }

    /// One event on a thread that is attached already.
    void forward(JNIEnv* env, const Dravlo::DialEventRecord& record) const {
        jclass cls = env->FindClass(DialEventClass);
        jobject event = env->NewObject(cls, constructor_);
        env->SetIntField(event, deviceId_, record.deviceId);
        env->SetIntField(event, eventType_, record.eventType);
        env->SetIntField(event, shuttleState_, record.shuttleState);
        env->SetIntField(event, jogDirection_, record.jogDirection);
        env->CallVoidMethod(listener_, callback_, event);
        env->DeleteLocalRef(event);
        env->DeleteLocalRef(cls);
    }
    /// One event on a thread that is not attached: attach, forward, detach.
    void forwardAttached(JavaVM* vm, const Dravlo::DialEventRecord& record) const {
        void* env = nullptr;
        if (vm->AttachCurrentThread(&env, nullptr) != JNI_OK) return;
        forward(static_cast<JNIEnv*>(env), record);
        vm->DetachCurrentThread();
    }

    static constexpr char DialEventClass[] = "applet/utils/dravlo/DialEvent";

private:
    static bool fail(JNIEnv* env) {
        env->ExceptionClear();
        return false;
    }

    jfieldID deviceId_ = nullptr;
    jfieldID eventType_ = nullptr;
    jfieldID shuttleState_ = nullptr;
    jfieldID jogDirection_ = nullptr;
    jmethodID constructor_ = nullptr;
    jmethodID callback_ = nullptr;
    jobject listener_ = nullptr;
};

}  // namespace DravloBench
