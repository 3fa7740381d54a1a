#pragma once
// ForwardingDriver: a driver as the product's drivers are built, minus COM.
// It holds the same pieces (event bindings, one listener holder per kind of
// event, the VM binding), registers listeners through the same calls as the
// exported registration entry points, and forwards each event record through
// forwardEvent. Tests feed it records on whatever thread they choose, the way
// a receiver calls its driver on the device's event thread.
// Thread rule: bind on a Java thread before any event; register and release
// on Java threads; onDialEvent/onKeyEvent on any thread, concurrently.

#include <jni.h>

#include "bridge/ClassNames.h"
#include "bridge/EventBindings.h"
#include "bridge/EventForwarding.h"
#include "bridge/EventRecords.h"
#include "bridge/JavaExceptions.h"
#include "bridge/JavaListenerRef.h"
#include "bridge/JavaVmBinding.h"

namespace Dravlo::Testing {

/// The fixed messages of the registration entry points of this test driver.
inline constexpr const char DialRegistrationFailed[] = "test driver: dial listener registration failed";
inline constexpr const char KeyRegistrationFailed[] = "test driver: key listener registration failed";

class ForwardingDriver final : public KeyListener, public DialListener {
public:
    /// The VM and both event bindings, as a driver's initialisation binds
    /// them. Throws JNIException.
    void bind(JNIEnv* env) {
        vmBinding_.bind(env);
        keyEventBinding_.bind(env);
        dialEventBinding_.bind(env);
    }

    /// The registration entry points: a failure becomes java.io.IOException
    /// pending on `env`. `listener` is borrowed; null unregisters.
    void registerDialListener(JNIEnv* env, jobject listener) noexcept {
        guardEntry(env, DialRegistrationFailed,
                   [&] { dialListenerRef_.registerListener(env, listener, OnDialEventMethod, OnDialEventSignature); });
    }
    void registerKeyListener(JNIEnv* env, jobject listener) noexcept {
        guardEntry(env, KeyRegistrationFailed,
                   [&] { keyListenerRef_.registerListener(env, listener, OnKeyEventMethod, OnKeyEventSignature); });
    }

    /// Uninitialisation's release: the key listener, then the dial listener.
    void release(JNIEnv* env) noexcept {
        keyListenerRef_.release(env);
        dialListenerRef_.release(env);
    }

    void onKeyEvent(const KeyEventRecord& event) override {
        forwardEvent(vmBinding_, keyEventBinding_, keyListenerRef_, event);
    }
    void onDialEvent(const DialEventRecord& event) override {
        forwardEvent(vmBinding_, dialEventBinding_, dialListenerRef_, event);
    }

    bool dialRegistered() const { return dialListenerRef_.registered(); }
    bool keyRegistered() const { return keyListenerRef_.registered(); }
    const JavaVmBinding& vmBinding() const noexcept { return vmBinding_; }

private:
    KeyEventBinding keyEventBinding_;
    JavaListenerRef keyListenerRef_;
    DialEventBinding dialEventBinding_;
    JavaListenerRef dialListenerRef_;
    JavaVmBinding vmBinding_;
};

}  // namespace Dravlo::Testing
