#include "bridge/JavaVmBinding.h"

#include "bridge/Exceptions.h"
#include "bridge/Messages.h"

namespace Dravlo {

void JavaVmBinding::bind(JNIEnv* env) {
    JavaVM* machine = nullptr;
    jint result = env->GetJavaVM(&machine);
    if (result != 0 || machine == nullptr) throw JNIException(Messages::NoVirtualMachine);
    vm_.store(machine, std::memory_order_release);
}

JNIEnv* JavaVmBinding::attach() const {
    JavaVM* machine = vm();
    if (machine == nullptr) return nullptr;
    void* env = nullptr;
    if (machine->AttachCurrentThread(&env, nullptr) != JNI_OK) return nullptr;
    return static_cast<JNIEnv*>(env);
}

void JavaVmBinding::detach() const {
    if (JavaVM* machine = vm()) machine->DetachCurrentThread();
}

}  // namespace Dravlo
