#include "keypad/KeyCommand.h"

#include "bridge/ClassNames.h"
#include "bridge/JniLookup.h"

namespace Dravlo {

void KeyCommandBinding::bind(JNIEnv* env) {
    JniLookup lookup(env);
    deviceId_ = lookup.fieldId(KeyCommandClassName, "fDeviceID", "I");
    type_ = lookup.fieldId(KeyCommandClassName, "fType", "I");
    buttonNumber_ = lookup.fieldId(KeyCommandClassName, "fButtonNumber", "I");
}

KeyCommandRecord KeyCommandBinding::read(JNIEnv* env, jobject command) const {
    KeyCommandRecord record{};
    record.deviceId = env->GetIntField(command, deviceId_);
    record.type = env->GetIntField(command, type_);
    record.buttonNumber = env->GetIntField(command, buttonNumber_);
    return record;
}

}  // namespace Dravlo
