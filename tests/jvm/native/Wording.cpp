// The library's texts and class-name constants, handed to the Java checks so
// expected messages are built from the same pieces as the library's own.

#include <string>

#include "bridge/ClassNames.h"
#include "bridge/Messages.h"
#include "dravlo_jvmtest_Wording.h"
#include "tests/jvm/native/JvmTestSupport.h"

using namespace Dravlo;

namespace {

struct NamedText {
    const char* name;
    const char* text;
};

constexpr NamedText kTexts[] = {
    {"ClassPrefix", Messages::ClassPrefix},
    {"ClassNotFoundSuffix", Messages::ClassNotFoundSuffix},
    {"MemberNotFoundIn", Messages::MemberNotFoundIn},
    {"UnnamedClass", Messages::UnnamedClass},
};

/// The text named `name` as a new Java string; null when no entry has that name.
template <std::size_t N>
jstring lookUp(JNIEnv* env, jstring name, const NamedText (&table)[N]) {
    std::string wanted = JvmTest::toStdString(env, name);
    for (const NamedText& entry : table) {
        if (wanted == entry.name) return env->NewStringUTF(entry.text);
    }
    return nullptr;
}

}  // namespace

JNIEXPORT jstring JNICALL Java_dravlo_jvmtest_Wording_text(JNIEnv* env, jclass, jstring name) {
    return lookUp(env, name, kTexts);
}

JNIEXPORT jstring JNICALL Java_dravlo_jvmtest_Wording_className(JNIEnv* env, jclass, jstring which) {
    const NamedText names[] = {
        {"DialEvent", DialEventClassName.c_str()},
        {"KeyEvent", KeyEventClassName.c_str()},
        {"KeyCommand", KeyCommandClassName.c_str()},
    };
    return lookUp(env, which, names);
}
