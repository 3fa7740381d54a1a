#include "bridge/Exceptions.h"

#include "bridge/Messages.h"

JNIException::JNIException() : std::runtime_error(Dravlo::Messages::JniExceptionDefault) {}
JNIException::JNIException(const std::string& message) : std::runtime_error(message) {}

IOException::IOException() : std::runtime_error(Dravlo::Messages::IoExceptionDefault) {}
IOException::IOException(const std::string& message) : std::runtime_error(message) {}
