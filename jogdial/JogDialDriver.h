#pragma once
// JogDialDriver: the one process-wide object behind the Java class
// applet.utils.dravlo.JogDialDriver. It opens the Axis jog dial collection,
// builds the receiver for device 0 and forwards the receiver's key and dial
// events to the Java listeners registered here.
// Thread rule: any Java thread may call anything at any time, a listener's
// callback included. Initialise and uninitialise are one operation at a time
// (DriverConnection says who waits for whom); each thread's CoInitialize is
// balanced on that thread. Events arrive on any thread; listener registration
// may race with them safely.

#include <jni.h>

#include <atomic>
#include <cstdint>

#include "bridge/EventBindings.h"
#include "bridge/EventRecords.h"
#include "bridge/JavaListenerRef.h"
#include "bridge/JavaVmBinding.h"
#include "com/AxisDriver.h"
#include "driver/ComInitialization.h"
#include "driver/DriverConnection.h"
#include "jogdial/JogDial.h"

namespace Dravlo {

class JogDialDriver : public KeyListener, public DialListener {
public:
    JogDialDriver() = default;
    /// Unload: no COM or JNI call; whatever is still held is abandoned.
    ~JogDialDriver() override = default;

    /// Starts COM on this thread, tears down a connection made earlier (on
    /// any thread), opens the collection, counts the devices and, when there
    /// is one, binds Java, builds and starts the receiver of device 0. Throws
    /// IOException, JNIException or _com_error; a failure leaves nothing
    /// behind but the count and the Java bindings.
    void initialize(JNIEnv* env);
    /// Releases the collection, stops and tears down the receiver, releases
    /// the Java listeners and balances this thread's COM.
    void uninitialize(JNIEnv* env);
    /// The count of the last initialisation that got that far (0 before).
    std::int32_t getNumberOfDevices() const noexcept { return deviceCount; }

    /// Registers (or, with null, unregisters) the Java dial listener.
    void registerDialListener(JNIEnv* env, jobject listener);
    /// Registers (or, with null, unregisters) the Java key listener.
    void registerKeyListener(JNIEnv* env, jobject listener);

    /// Forward one receiver event to Java on the calling thread; never throw.
    void onKeyEvent(const KeyEventRecord& event) override;
    void onDialEvent(const DialEventRecord& event) override;

private:
    /// Deletes the global references to the registered Java listeners.
    void releaseJavaListeners(JNIEnv* env);

    DriverConnection<IJogDialCollectionPtr, JogDial> connection;
    std::atomic<std::int32_t> deviceCount{0};
    ComInitialization com;
    KeyEventBinding keyEventBinding;
    JavaListenerRef keyListenerRef;
    DialEventBinding dialEventBinding;
    JavaListenerRef dialListenerRef;
    JavaVmBinding vmBinding;
};

/// The process-wide driver (one of the library's static objects).
extern JogDialDriver jogDialDriver;

}  // namespace Dravlo
