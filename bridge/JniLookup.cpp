#include "bridge/JniLookup.h"

#include "bridge/Exceptions.h"
#include "bridge/Messages.h"

namespace Dravlo {

void JniLookup::fail(const std::string& message) const {
    env_->ExceptionClear();
    throw JNIException(message);
}

void JniLookup::classNotFound(const std::string& className) const {
    fail(Messages::ClassPrefix + className + Messages::ClassNotFoundSuffix);
}

jfieldID JniLookup::fieldId(const std::string& className, const std::string& fieldName,
                            const std::string& signature) const {
    LocalRef<jclass> cls = findClass(className);
    jfieldID id = env_->GetFieldID(cls.get(), fieldName.c_str(), signature.c_str());
    if (id == nullptr) fail(fieldName + Messages::MemberNotFoundIn + className);
    return id;
}

jmethodID JniLookup::methodId(const std::string& className, const std::string& methodName,
                              const std::string& signature) const {
    LocalRef<jclass> cls = findClass(className);
    jmethodID id = env_->GetMethodID(cls.get(), methodName.c_str(), signature.c_str());
    if (id == nullptr) fail(methodName + Messages::MemberNotFoundIn + className);
    return id;
}

jmethodID JniLookup::methodId(jobject object, const std::string& methodName, const std::string& signature) const {
    LocalRef<jclass> cls(env_, env_->GetObjectClass(object));
    jmethodID id = cls ? env_->GetMethodID(cls.get(), methodName.c_str(), signature.c_str()) : nullptr;
    if (id == nullptr) fail(methodName + Messages::MemberNotFoundIn + Messages::UnnamedClass);
    return id;
}

}  // namespace Dravlo
