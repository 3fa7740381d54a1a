// The class-name constants of the Java contract, defined for the test library
// as the product defines them beside its other static objects, and the helpers
// shared by the natives.

#include "tests/jvm/native/JvmTestSupport.h"

#include "bridge/ClassNames.h"

namespace Dravlo {

const std::string DialEventClassName = DRAVLO_DIAL_EVENT_CLASS;
const std::string KeyCommandClassName = DRAVLO_KEY_COMMAND_CLASS;
const std::string KeyEventClassName = DRAVLO_KEY_EVENT_CLASS;

std::string JvmTest::toStdString(JNIEnv* env, jstring text) {
    if (text == nullptr) return {};
    const char* bytes = env->GetStringUTFChars(text, nullptr);
    if (bytes == nullptr) return {};  // OutOfMemoryError pending
    std::string copy(bytes);
    env->ReleaseStringUTFChars(text, bytes);
    return copy;
}

}  // namespace Dravlo
