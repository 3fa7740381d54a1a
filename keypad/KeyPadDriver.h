#pragma once
// KeyPadDriver: the one process-wide object behind the Java class
// applet.utils.dravlo.KeyPadDriver. It opens the Axis keypad collection,
// builds the receiver for keypad 0, forwards its key events to the Java
// listener registered here and carries out Java's backlight commands.
// Thread rule: as JogDialDriver.

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
#include "keypad/KeyCommand.h"
#include "keypad/KeyPad.h"

namespace Dravlo {

class KeyPadDriver : public KeyListener {
public:
    KeyPadDriver() = default;
    /// Unload: no COM or JNI call; whatever is still held is abandoned.
    ~KeyPadDriver() override = default;

    /// As JogDialDriver::initialize, for keypads (also binds KeyCommand).
    void initialize(JNIEnv* env);
    /// As JogDialDriver::uninitialize.
    void uninitialize(JNIEnv* env);
    /// The count of the last initialisation that got that far (0 before).
    std::int32_t getNumberOfDevices() const noexcept { return deviceCount; }
    /// Registers (or, with null, unregisters) the Java key listener.
    void registerKeyListener(JNIEnv* env, jobject listener);
    /// Carries out one Java KeyCommand (borrowed) on keypad 0; ignored when
    /// there is no receiver or no command.
    void executeCommand(JNIEnv* env, jobject command);

    /// Forwards one receiver event to Java on the calling thread; never throws.
    void onKeyEvent(const KeyEventRecord& event) override;

private:
    /// Deletes the global references to the registered Java listeners.
    void releaseJavaListeners(JNIEnv* env);

    DriverConnection<IKeyPadCollectionPtr, KeyPad> connection;
    std::atomic<std::int32_t> deviceCount{0};
    ComInitialization com;
    JavaListenerRef keyListenerRef;
    KeyEventBinding keyEventBinding;
    KeyCommandBinding keyCommandBinding;
    JavaVmBinding vmBinding;
};

/// The process-wide driver (one of the library's static objects).
extern KeyPadDriver keyPadDriver;

}  // namespace Dravlo
