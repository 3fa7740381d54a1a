// JavaVM functions: attaching and detaching native threads, GetEnv. Like
// HotSpot, attaching an attached thread hands back its environment, and a
// thread that runs Java code (a Java thread, or one inside a native method)
// cannot detach.

#include <cstdio>

#include "support/jvm/Model.h"

namespace StandIn::detail {

namespace {

using Lock = std::unique_lock<std::recursive_mutex>;

State* machine(JavaVM* vm, const char* fn) {
    State* state = stateOf(vm);
    if (state == nullptr) std::fprintf(stderr, "JNI violation: %s: called with a pointer that is not a JavaVM\n", fn);
    return state;
}

jint JNICALL destroyJavaVM(JavaVM* vm) {
    State* state = machine(vm, "DestroyJavaVM");
    if (state == nullptr) return JNI_ERR;
    Lock lock(state->mutex);
    state->violation("DestroyJavaVM: the library must never destroy the virtual machine");
    return JNI_ERR;
}

jint attach(JavaVM* vm, void** penv, void* args, const char* fn) {
    State* state = machine(vm, fn);
    if (state == nullptr) return JNI_ERR;
    Lock lock(state->mutex);
    if (penv == nullptr) {
        state->violation(std::string(fn) + ": null environment pointer");
        return JNI_ERR;
    }
    *penv = nullptr;
    if (args != nullptr && static_cast<JavaVMAttachArgs*>(args)->version < JNI_VERSION_1_2) return JNI_EVERSION;
    if (ThreadRec* thread = state->current()) {
        *penv = &thread->env.env;
        return JNI_OK;
    }
    if (state->attachFails) {
        ++state->failedAttachCount;
        return JNI_ERR;
    }
    *penv = &state->attach(ThreadKind::Native).env.env;
    ++state->attachCount;
    return JNI_OK;
}

jint JNICALL attachCurrentThread(JavaVM* vm, void** penv, void* args) {
    return attach(vm, penv, args, "AttachCurrentThread");
}

jint JNICALL attachCurrentThreadAsDaemon(JavaVM* vm, void** penv, void* args) {
    return attach(vm, penv, args, "AttachCurrentThreadAsDaemon");
}

jint JNICALL detachCurrentThread(JavaVM* vm) {
    State* state = machine(vm, "DetachCurrentThread");
    if (state == nullptr) return JNI_ERR;
    Lock lock(state->mutex);
    ThreadRec* thread = state->current();
    if (thread == nullptr) return JNI_OK;
    if (thread->kind == ThreadKind::Java || thread->javaDepth > 0) return JNI_ERR;
    // JNI leaves the fate of a pending exception here open: HotSpot hands it
    // to the uncaught exception handler, Avian drops it without a word.
    if (thread->pending)
        state->violation("DetachCurrentThread: a Java exception is pending; JNI does not say what becomes of it");
    state->detach(*thread);
    ++state->detachCount;
    return JNI_OK;
}

jint JNICALL getEnv(JavaVM* vm, void** penv, jint version) {
    State* state = machine(vm, "GetEnv");
    if (state == nullptr) return JNI_ERR;
    Lock lock(state->mutex);
    if (penv == nullptr) {
        state->violation("GetEnv: null environment pointer");
        return JNI_ERR;
    }
    *penv = nullptr;
    if (version < JNI_VERSION_1_1 || version > JNI_VERSION_10) return JNI_EVERSION;
    ThreadRec* thread = state->current();
    if (thread == nullptr) return JNI_EDETACHED;
    *penv = &thread->env.env;
    return JNI_OK;
}

}  // namespace

const JNIInvokeInterface_* vmTable() {
    static const JNIInvokeInterface_ table{nullptr,
                                           nullptr,
                                           nullptr,
                                           destroyJavaVM,
                                           attachCurrentThread,
                                           detachCurrentThread,
                                           getEnv,
                                           attachCurrentThreadAsDaemon};
    return &table;
}

}  // namespace StandIn::detail
