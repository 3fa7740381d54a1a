#include "support/jvm/JvmStandIn.h"

#include <stdexcept>

#include "support/jvm/Model.h"

namespace StandIn {

using detail::Class;
using detail::State;
using detail::ThreadKind;
using detail::ThreadRec;
using Lock = std::unique_lock<std::recursive_mutex>;

namespace {

// Misuse of the test API itself is a broken test, not a JNI violation.
[[noreturn]] void badSetup(const std::string& message) { throw std::invalid_argument("JvmStandIn: " + message); }

Class& existingClass(const State& state, const std::string& name) {
    Class* cls = state.findClass(name);
    if (cls == nullptr) badSetup("no class " + name);
    return *cls;
}

ThreadRec& threadOf(JNIEnv* env) {
    auto* holder = reinterpret_cast<detail::ThreadEnv*>(env);
    if (detail::stateOf(env) == nullptr || !holder->thread->attached ||
        holder->thread->id != std::this_thread::get_id())
        badSetup("the environment is not the calling thread's");
    return *holder->thread;
}

}  // namespace

// ---------------------------------------------------------------------------
// ClassDef

ClassDef& ClassDef::intField(const std::string& fieldName) { return field(fieldName, "I"); }

ClassDef& ClassDef::field(const std::string& fieldName, const std::string& signature) {
    Lock lock(state_->mutex);
    for (auto& f : cls_->fields) {
        if (f->name == fieldName && f->signature == signature) {
            f->removed = false;
            return *this;
        }
    }
    cls_->fields.push_back(std::make_unique<detail::Field>(detail::Field{fieldName, signature, cls_}));
    state_->fieldIds.insert(cls_->fields.back().get());
    return *this;
}

ClassDef& ClassDef::constructor(MethodBody body, const std::string& signature) {
    return method("<init>", signature, std::move(body));
}

ClassDef& ClassDef::method(const std::string& methodName, const std::string& signature, MethodBody body) {
    auto parsed = detail::parseSignature(signature);
    if (!parsed) badSetup("malformed method signature " + signature);
    if (methodName == "<init>" && parsed->result != "V") badSetup("a constructor returns void");
    Lock lock(state_->mutex);
    for (auto& m : cls_->methods) {
        if (m->name == methodName && m->signature == signature) {
            m->body = std::move(body);
            m->removed = false;
            return *this;
        }
    }
    cls_->methods.push_back(
        std::make_unique<detail::Method>(detail::Method{methodName, signature, cls_, std::move(body)}));
    state_->methodIds.insert(cls_->methods.back().get());
    return *this;
}

const std::string& ClassDef::name() const { return cls_->name; }

// ---------------------------------------------------------------------------
// The Java world

JvmStandIn::JvmStandIn() : state_(std::make_unique<State>()) {
    Class& object = state_->defineClass("java/lang/Object", nullptr);
    state_->defineClass("java/lang/Class", &object);
    object.mirror->klass = state_->findClass("java/lang/Class");
    const char* const hierarchy[][2] = {
        {"java/lang/String", "java/lang/Object"},
        {"java/lang/Throwable", "java/lang/Object"},
        {"java/lang/Exception", "java/lang/Throwable"},
        {"java/lang/RuntimeException", "java/lang/Exception"},
        {"java/lang/IllegalStateException", "java/lang/RuntimeException"},
        {"java/io/IOException", "java/lang/Exception"},
        {"java/lang/Error", "java/lang/Throwable"},
        {"java/lang/LinkageError", "java/lang/Error"},
        {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
        {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError"},
        {"java/lang/NoSuchFieldError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/VirtualMachineError", "java/lang/Error"},
        {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError"},
    };
    for (const auto& [name, super] : hierarchy) defineClass(name, super);
}

JvmStandIn::~JvmStandIn() = default;

ClassDef JvmStandIn::defineClass(const std::string& name, const std::string& superName) {
    Lock lock(state_->mutex);
    Class& super = existingClass(*state_, superName);
    return ClassDef(*state_, state_->defineClass(name, &super));
}

void JvmStandIn::removeClass(const std::string& name) {
    Lock lock(state_->mutex);
    existingClass(*state_, name).removed = true;
}

void JvmStandIn::removeField(const std::string& className, const std::string& fieldName) {
    Lock lock(state_->mutex);
    for (auto& f : existingClass(*state_, className).fields)
        if (f->name == fieldName) f->removed = true;
}

void JvmStandIn::removeMethod(const std::string& className, const std::string& methodName,
                              const std::string& signature) {
    Lock lock(state_->mutex);
    for (auto& m : existingClass(*state_, className).methods)
        if (m->name == methodName && m->signature == signature) m->removed = true;
}

// ---------------------------------------------------------------------------
// Threads

JavaVM* JvmStandIn::javaVm() noexcept { return &state_->vm.vm; }

JNIEnv* JvmStandIn::attachJavaThread() {
    Lock lock(state_->mutex);
    ThreadRec* thread = state_->current();
    if (thread == nullptr) thread = &state_->attach(ThreadKind::Java);
    return &thread->env.env;
}

void JvmStandIn::detachJavaThread() {
    Lock lock(state_->mutex);
    ThreadRec* thread = state_->current();
    if (thread == nullptr || thread->kind != ThreadKind::Java) badSetup("this thread is not a Java thread");
    state_->detach(*thread);
}

std::optional<ThrowableInfo> JvmStandIn::callNative(const std::function<void(JNIEnv*)>& body) {
    Lock lock(state_->mutex);
    ThreadRec* thread = state_->current();
    const bool temporary = thread == nullptr;
    if (temporary) thread = &state_->attach(ThreadKind::Java);
    if (thread->pending) state_->violation("native method: called while an exception is pending on the thread");
    JNIEnv* env = &thread->env.env;
    state_->runJava(*thread, lock, "native method", [&] { body(env); });
    std::optional<ThrowableInfo> thrown;
    if (thread->pending) {
        thrown = State::describe(*thread->pending);
        thread->pending.reset();
    }
    if (temporary) state_->detach(*thread);
    return thrown;
}

// ---------------------------------------------------------------------------
// Objects for tests

jobject JvmStandIn::newInstance(JNIEnv* env, const std::string& className, const std::map<std::string, jint>& fields) {
    Lock lock(state_->mutex);
    ThreadRec& thread = threadOf(env);
    Class& cls = existingClass(*state_, className);
    auto object = state_->newObject(cls);
    jobject handle = state_->newLocal(thread, object);
    if (const detail::Method* ctor = cls.findMethod("<init>", "()V"); ctor != nullptr && ctor->body) {
        MethodBody body = ctor->body;
        state_->runJava(thread, lock, "<init>", [&] { body(env, handle, {}); });
    }
    for (const auto& [name, value] : fields) {
        const detail::Field* field = cls.findField(name, "I");
        if (field == nullptr) badSetup(className + " has no int field " + name);
        object->ints[field] = value;
    }
    return handle;
}

ObjectView JvmStandIn::inspect(jobject ref) const {
    Lock lock(state_->mutex);
    auto object = state_->resolve("inspect", state_->current(), ref);
    if (!object) return {};
    ObjectView view{object->klass->name, object->id, {}};
    for (const Class* c = object->klass; c != nullptr; c = c->super) {
        for (const auto& f : c->fields) {
            if (f->signature != "I" || view.intFields.count(f->name) != 0) continue;
            auto value = object->ints.find(f.get());
            view.intFields[f->name] = value == object->ints.end() ? 0 : value->second;
        }
    }
    return view;
}

void JvmStandIn::throwJava(JNIEnv* env, const std::string& className, const std::string& message) {
    Lock lock(state_->mutex);
    ThreadRec& thread = threadOf(env);
    if (!existingClass(*state_, className).derivesFrom(state_->findClass("java/lang/Throwable")))
        badSetup(className + " is not a Throwable");
    state_->raise(thread, className, message);
}

// ---------------------------------------------------------------------------
// Fault injection

void JvmStandIn::failFindClass(const std::string& className, Where where) {
    Lock lock(state_->mutex);
    state_->findClassFailures[className] = where;
}

void JvmStandIn::failGetJavaVM(bool fail) {
    Lock lock(state_->mutex);
    state_->getJavaVmFails = fail;
}

void JvmStandIn::failAttach(bool fail) {
    Lock lock(state_->mutex);
    state_->attachFails = fail;
}

void JvmStandIn::failNewObject(bool fail) {
    Lock lock(state_->mutex);
    state_->newObjectFails = fail;
}

void JvmStandIn::clearFaults() {
    Lock lock(state_->mutex);
    state_->findClassFailures.clear();
    state_->getJavaVmFails = state_->attachFails = state_->newObjectFails = false;
}

}  // namespace StandIn
