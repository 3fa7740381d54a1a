#pragma once
// Cached identifiers of the Java event classes, and the building of one Java
// event object per device event. Bound once per initialisation on the Java
// thread, before its receiver's events can arrive; read on event threads
// afterwards. A listener that initialises again from its callback binds anew
// while an earlier receiver's deliveries may still read them, so each
// identifier is atomic (relaxed: it is the same value every time).
// No class reference is held: the class is found by name for every event.

#include <jni.h>

#include <atomic>

#include "bridge/EventRecords.h"
#include "bridge/JniRef.h"

namespace Dravlo {

class DialEventBinding {
public:
    /// Looks up fDeviceID, fEventType, fShuttleState, fJogDirection ("I") and
    /// "<init>" "()V" in DialEvent, storing each as found. Throws JNIException.
    void bind(JNIEnv* env);

    /// A new DialEvent with the record's values. Throws JNIException when the
    /// class cannot be found; null when the object cannot be made (the Java
    /// error that caused it is described and cleared). No field of a null
    /// object is written.
    LocalRef<jobject> create(JNIEnv* env, const DialEventRecord& record) const;

private:
    std::atomic<jfieldID> deviceId_{nullptr};
    std::atomic<jfieldID> eventType_{nullptr};
    std::atomic<jfieldID> shuttleState_{nullptr};
    std::atomic<jfieldID> jogDirection_{nullptr};
    std::atomic<jmethodID> constructor_{nullptr};
};

class KeyEventBinding {
public:
    /// Looks up fDeviceID, fEventType, fButtonNumber ("I") and "<init>" "()V"
    /// in KeyEvent, storing each as found. Throws JNIException.
    void bind(JNIEnv* env);

    /// A new KeyEvent with the record's values; failures as DialEventBinding::create.
    LocalRef<jobject> create(JNIEnv* env, const KeyEventRecord& record) const;

private:
    std::atomic<jfieldID> deviceId_{nullptr};
    std::atomic<jfieldID> eventType_{nullptr};
    std::atomic<jfieldID> buttonNumber_{nullptr};
    std::atomic<jmethodID> constructor_{nullptr};
};

}  // namespace Dravlo
