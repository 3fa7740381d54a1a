// JNIEnv functions for references, exceptions, local frames and the version;
// and the assembly of the one function table every environment shares.

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "support/jvm/Model.h"

namespace StandIn::detail {

namespace {

constexpr bool kExceptionSafe = true;

jint JNICALL getVersion(JNIEnv* env) {
    Entry e(env, "GetVersion");
    return e ? JNI_VERSION_10 : JNI_ERR;
}

jint JNICALL throwNew(JNIEnv* env, jclass cls, const char* message) {
    Entry e(env, "ThrowNew");
    if (!e) return JNI_ERR;
    Class* c = e.state->resolveClass(e.fn, e.thread, cls);
    if (c == nullptr) return JNI_ERR;
    if (!c->derivesFrom(e.state->findClass("java/lang/Throwable"))) {
        e.state->violation(std::string(e.fn) + ": " + c->name + " is not a Throwable");
        return JNI_ERR;
    }
    e.state->raise(*e.thread, c->name, message != nullptr ? message : "");
    return JNI_OK;
}

jint JNICALL throwObject(JNIEnv* env, jthrowable obj) {
    Entry e(env, "Throw");
    if (!e) return JNI_ERR;
    ObjectPtr thrown = e.state->resolveNonNull(e.fn, e.thread, obj, "throwable");
    if (!thrown) return JNI_ERR;
    if (!thrown->klass->derivesFrom(e.state->findClass("java/lang/Throwable"))) {
        e.state->violation(std::string(e.fn) + ": " + thrown->klass->name + " is not a Throwable");
        return JNI_ERR;
    }
    e.thread->pending = thrown;
    return JNI_OK;
}

jthrowable JNICALL exceptionOccurred(JNIEnv* env) {
    Entry e(env, "ExceptionOccurred", kExceptionSafe);
    if (!e || !e.thread->pending) return nullptr;
    return static_cast<jthrowable>(e.state->newLocal(*e.thread, e.thread->pending));
}

void JNICALL exceptionDescribe(JNIEnv* env) {
    Entry e(env, "ExceptionDescribe", kExceptionSafe);
    if (!e || !e.thread->pending) return;
    const ThrowableInfo info = State::describe(*e.thread->pending);
    std::ostringstream line;
    line << "Exception in thread \"" << e.thread->id << "\" " << info.className;
    if (!info.message.empty()) line << ": " << info.message;
    std::fprintf(stderr, "%s\n", line.str().c_str());
    e.state->described.push_back(info);
    e.thread->pending.reset();
}

void JNICALL exceptionClear(JNIEnv* env) {
    Entry e(env, "ExceptionClear", kExceptionSafe);
    if (e) e.thread->pending.reset();
}

jboolean JNICALL exceptionCheck(JNIEnv* env) {
    Entry e(env, "ExceptionCheck", kExceptionSafe);
    return e && e.thread->pending ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL pushLocalFrame(JNIEnv* env, jint capacity) {
    Entry e(env, "PushLocalFrame", kExceptionSafe);
    if (!e) return JNI_ERR;
    if (capacity < 0) {
        e.state->violation(std::string(e.fn) + ": negative capacity");
        return JNI_ERR;
    }
    e.state->pushFrame(*e.thread, std::max<std::size_t>(capacity, kDefaultFrameCapacity));
    e.thread->frames.back().pushedByJni = true;
    return JNI_OK;
}

jobject JNICALL popLocalFrame(JNIEnv* env, jobject result) {
    Entry e(env, "PopLocalFrame", kExceptionSafe);
    if (!e) return nullptr;
    if (!e.thread->frames.back().pushedByJni) {
        e.state->violation(std::string(e.fn) + ": no frame pushed by PushLocalFrame is open");
        return nullptr;
    }
    ObjectPtr kept = e.state->resolve(e.fn, e.thread, result);
    e.state->popFrame(*e.thread);
    return kept ? e.state->newLocal(*e.thread, kept) : nullptr;
}

jint JNICALL ensureLocalCapacity(JNIEnv* env, jint capacity) {
    Entry e(env, "EnsureLocalCapacity");
    if (!e || capacity < 0) return JNI_ERR;
    Frame& frame = e.thread->frames.back();
    frame.capacity = std::max(frame.capacity, frame.live + capacity);
    return JNI_OK;
}

jobject JNICALL newGlobalRef(JNIEnv* env, jobject ref) {
    Entry e(env, "NewGlobalRef");
    if (!e) return nullptr;
    ObjectPtr target = e.state->resolve(e.fn, e.thread, ref);
    return target ? e.state->newGlobal(target) : nullptr;
}

void JNICALL deleteGlobalRef(JNIEnv* env, jobject ref) {
    Entry e(env, "DeleteGlobalRef", kExceptionSafe);
    if (e) e.state->deleteRef(e.fn, e.thread, ref, RefKind::Global);
}

void JNICALL deleteLocalRef(JNIEnv* env, jobject ref) {
    Entry e(env, "DeleteLocalRef", kExceptionSafe);
    if (e) e.state->deleteRef(e.fn, e.thread, ref, RefKind::Local);
}

jobject JNICALL newLocalRef(JNIEnv* env, jobject ref) {
    Entry e(env, "NewLocalRef");
    if (!e) return nullptr;
    ObjectPtr target = e.state->resolve(e.fn, e.thread, ref);
    return target ? e.state->newLocal(*e.thread, target) : nullptr;
}

jboolean JNICALL isSameObject(JNIEnv* env, jobject first, jobject second) {
    Entry e(env, "IsSameObject");
    if (!e) return JNI_FALSE;
    ObjectPtr a = e.state->resolve(e.fn, e.thread, first);
    ObjectPtr b = e.state->resolve(e.fn, e.thread, second);
    return a == b ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL getJavaVM(JNIEnv* env, JavaVM** vm) {
    Entry e(env, "GetJavaVM");
    if (!e) return JNI_ERR;
    if (vm == nullptr) {
        e.state->violation(std::string(e.fn) + ": null result pointer");
        return JNI_ERR;
    }
    *vm = e.state->getJavaVmFails ? nullptr : &e.state->vm.vm;
    return e.state->getJavaVmFails ? JNI_ERR : JNI_OK;
}

void installReferenceFunctions(JNINativeInterface_& t) {
    t.GetVersion = getVersion;
    t.ThrowNew = throwNew;
    t.Throw = throwObject;
    t.ExceptionOccurred = exceptionOccurred;
    t.ExceptionDescribe = exceptionDescribe;
    t.ExceptionClear = exceptionClear;
    t.ExceptionCheck = exceptionCheck;
    t.PushLocalFrame = pushLocalFrame;
    t.PopLocalFrame = popLocalFrame;
    t.EnsureLocalCapacity = ensureLocalCapacity;
    t.NewGlobalRef = newGlobalRef;
    t.DeleteGlobalRef = deleteGlobalRef;
    t.DeleteLocalRef = deleteLocalRef;
    t.NewLocalRef = newLocalRef;
    t.IsSameObject = isSameObject;
    t.GetJavaVM = getJavaVM;
}

}  // namespace

const JNINativeInterface_* envTable() {
    static const JNINativeInterface_ table = [] {
        JNINativeInterface_ t{};
        fillWithTraps(t);
        installReferenceFunctions(t);
        installObjectFunctions(t);
        return t;
    }();
    return &table;
}

}  // namespace StandIn::detail
