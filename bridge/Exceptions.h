#pragma once
// The library's two exception types. Both are thrown by value, caught by
// reference, and turned into java.io.IOException at the entry points.

#include <stdexcept>
#include <string>

/// A failure of the Java interface: a failed lookup, a missing virtual machine.
class JNIException : public std::runtime_error {
public:
    JNIException();
    explicit JNIException(const std::string& message);
};

/// A failure of COM or of the device: COM start-up, a missing device.
class IOException : public std::runtime_error {
public:
    IOException();
    explicit IOException(const std::string& message);
};
