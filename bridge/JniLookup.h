#pragma once
// JniLookup: finds Java classes, fields and methods on one JNIEnv and turns
// every failed lookup into a JNIException with the library's wording, after
// clearing the Java error the failed call left pending. Lives on the stack for
// one sequence of lookups on the thread that owns the environment; owns nothing.

#include <jni.h>

#include <string>

#include "bridge/JniRef.h"

namespace Dravlo {

class JniLookup {
public:
    explicit JniLookup(JNIEnv* env) noexcept : env_(env) {}

    /// FindClass; the caller owns the returned local reference.
    /// Throws JNIException "Class <name> not found". Takes the name by
    /// reference, and is inline: it runs once per event, where a copy would
    /// cost an allocation every time.
    LocalRef<jclass> findClass(const std::string& className) const {
        jclass cls = env_->FindClass(className.c_str());
        if (cls == nullptr) classNotFound(className);
        return LocalRef<jclass>(env_, cls);
    }

    /// GetFieldID on the named class. Throws "<field> not found in <class>".
    jfieldID fieldId(const std::string& className, const std::string& fieldName, const std::string& signature) const;

    /// GetMethodID on the named class. Throws "<method> not found in <class>".
    jmethodID methodId(const std::string& className, const std::string& methodName, const std::string& signature) const;

    /// GetMethodID on the class of `object` (borrowed). Throws "<method> not found in ...".
    jmethodID methodId(jobject object, const std::string& methodName, const std::string& signature) const;

private:
    [[noreturn]] void fail(const std::string& message) const;
    [[noreturn]] void classNotFound(const std::string& className) const;

    JNIEnv* env_;
};

}  // namespace Dravlo
