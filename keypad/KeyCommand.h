#pragma once
// Keypad commands: the native form of a Java KeyCommand and the cached field
// identifiers that read one.

#include <jni.h>

#include <cstdint>

namespace Dravlo {

/// One backlight command. `deviceId` is carried but never consulted.
struct KeyCommandRecord {
    std::int32_t deviceId;
    std::int32_t type;  ///< 0 backlight off, 1 on, anything else nothing
    std::int32_t buttonNumber;
};

/// Field identifiers of applet/utils/dravlo/KeyCommand; bound on the Java
/// thread at each initialisation that finds a keypad, never cleared.
class KeyCommandBinding {
public:
    /// Looks up fDeviceID, fType, fButtonNumber ("I") in this order, storing
    /// each as found. Throws JNIException.
    void bind(JNIEnv* env);

    /// Reads the three fields of `command` (borrowed, not null).
    KeyCommandRecord read(JNIEnv* env, jobject command) const;

private:
    jfieldID deviceId_ = nullptr;
    jfieldID type_ = nullptr;
    jfieldID buttonNumber_ = nullptr;
};

}  // namespace Dravlo
