#pragma once
// Raising java.io.IOException, and the one shape every exported entry point
// uses to keep C++ exceptions out of the JVM.

#include <jni.h>

#include <string>

namespace Dravlo {

/// FindClass("java/io/IOException") then ThrowNew with `message`; returns
/// normally with the Java exception pending. A Java error that is already
/// pending is left standing, since no JNI call may be made over it.
void throwJavaIOException(JNIEnv* env, const std::string& message) noexcept;
void throwJavaIOException(JNIEnv* env, const char* message) noexcept;

/// Hands the pending Java exception, if any, to the current thread's uncaught
/// exception handler and clears it, as a Java thread ending with it would.
/// Where the handler cannot be reached, or itself throws, that is printed
/// (ExceptionDescribe) instead. Nothing is left pending.
void dispatchUncaughtException(JNIEnv* env) noexcept;

/// Runs `body` for an entry point that reports failures: a std::exception
/// becomes java.io.IOException with its what() text, anything else one with
/// `fixedMessage`. Nothing escapes.
template <class Body>
void guardEntry(JNIEnv* env, const char* fixedMessage, Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& failure) {
        throwJavaIOException(env, failure.what());
    } catch (...) {
        throwJavaIOException(env, fixedMessage);
    }
}

/// Runs `body` for an entry point that reports nothing (uninitialise, commands).
template <class Body>
void swallowEntry(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace Dravlo
