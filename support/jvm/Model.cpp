#include "support/jvm/Model.h"

#include <cstdio>
#include <sstream>
#include <string_view>

namespace StandIn::detail {

namespace {

// Handles look like pointers but lie where nothing is mapped, and grow
// monotonically so a deleted reference is never handed out again.
constexpr std::uintptr_t kHandleBase = 0x5a0000000000;
constexpr std::uintptr_t kHandleStep = 16;

std::string threadText(std::thread::id id) {
    std::ostringstream out;
    out << id;
    return out.str();
}

std::optional<std::string> readType(const std::string& text, std::size_t& at) {
    const std::size_t start = at;
    while (at < text.size() && text[at] == '[') ++at;
    if (at >= text.size()) return std::nullopt;
    if (text[at] == 'L') {
        const std::size_t end = text.find(';', at);
        if (end == std::string::npos || end == at + 1) return std::nullopt;
        at = end + 1;
    } else if (std::string_view("ZBCSIJFD").find(text[at]) != std::string_view::npos) {
        ++at;
    } else {
        return std::nullopt;
    }
    return text.substr(start, at - start);
}

}  // namespace

std::optional<Signature> parseSignature(const std::string& text) {
    if (text.empty() || text[0] != '(') return std::nullopt;
    Signature signature;
    std::size_t at = 1;
    while (at < text.size() && text[at] != ')') {
        auto param = readType(text, at);
        if (!param) return std::nullopt;
        signature.params.push_back(*param);
    }
    if (at++ >= text.size()) return std::nullopt;
    if (at + 1 == text.size() && text[at] == 'V') {
        signature.result = "V";
        return signature;
    }
    auto result = readType(text, at);
    if (!result || at != text.size()) return std::nullopt;
    signature.result = *result;
    return signature;
}

std::string handleText(const void* handle) {
    char text[32];
    std::snprintf(text, sizeof text, "%#llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle)));
    return text;
}

const Field* Class::findField(const std::string& fieldName, const std::string& signature) const {
    for (const Class* c = this; c != nullptr; c = c->super)
        for (const auto& f : c->fields)
            if (!f->removed && f->name == fieldName && f->signature == signature) return f.get();
    return nullptr;
}

const Method* Class::findMethod(const std::string& methodName, const std::string& signature) const {
    for (const Class* c = this; c != nullptr; c = c->super) {
        for (const auto& m : c->methods)
            if (!m->removed && m->name == methodName && m->signature == signature) return m.get();
        if (methodName == "<init>") break;
    }
    return nullptr;
}

bool Class::derivesFrom(const Class* base) const {
    for (const Class* c = this; c != nullptr; c = c->super)
        if (c == base) return true;
    return false;
}

State::State() : vm{JavaVM{vmTable()}, kVmMagic, this} {}

void State::violation(const std::string& message) {
    violations.push_back(message);
    if (handler) {
        handler(message);
    } else {
        std::fprintf(stderr, "JNI violation: %s\n", message.c_str());
    }
}

Class& State::defineClass(const std::string& name, Class* super) {
    auto& slot = classes[name];
    if (!slot) {
        slot = std::make_unique<Class>();
        slot->name = name;
        slot->super = super;
        Class* classClass = name == "java/lang/Class" ? slot.get() : findClass("java/lang/Class");
        slot->mirror = std::make_shared<Object>();
        slot->mirror->klass = classClass;
        slot->mirror->mirrorOf = slot.get();
        slot->mirror->id = ++nextObjectId;
    }
    slot->removed = false;
    return *slot;
}

Class* State::findClass(const std::string& name) const {
    auto found = classes.find(name);
    return found == classes.end() || found->second->removed ? nullptr : found->second.get();
}

ObjectPtr State::newObject(Class& cls) {
    auto object = std::make_shared<Object>();
    object->klass = &cls;
    object->id = ++nextObjectId;
    ++created[cls.name];
    return object;
}

void State::raise(ThreadRec& thread, const std::string& className, const std::string& message) {
    Class* cls = findClass(className);
    if (cls == nullptr) cls = findClass("java/lang/NoClassDefFoundError");
    thread.pending = newObject(*cls);
    thread.pending->message = message;
}

ThrowableInfo State::describe(const Object& throwable) { return {throwable.klass->name, throwable.message}; }

ThreadRec* State::current() {
    auto found = attached.find(std::this_thread::get_id());
    return found == attached.end() ? nullptr : found->second;
}

ThreadRec& State::attach(ThreadKind kind) {
    auto rec = std::make_unique<ThreadRec>();
    rec->id = std::this_thread::get_id();
    rec->kind = kind;
    rec->frames.emplace_back();
    rec->env = ThreadEnv{JNIEnv{envTable()}, kEnvMagic, this, rec.get()};
    attached[rec->id] = rec.get();
    threads.push_back(std::move(rec));
    return *threads.back();
}

void State::detach(ThreadRec& thread) {
    if (thread.pending) {
        uncaught.push_back(describe(*thread.pending));
        thread.pending.reset();
    }
    while (!thread.frames.empty()) popFrame(thread);
    thread.attached = false;
    attached.erase(thread.id);
}

void State::pushFrame(ThreadRec& thread, std::size_t capacity) {
    thread.frames.emplace_back();
    thread.frames.back().capacity = capacity;
}

void State::popFrame(ThreadRec& thread) {
    for (jobject handle : thread.frames.back().locals) {
        Ref& ref = refs.at(reinterpret_cast<std::uintptr_t>(handle));
        if (!ref.live) continue;
        ref.live = false;
        ref.target.reset();
        --thread.liveLocals;
        --liveLocals;
    }
    thread.frames.pop_back();
}

void State::runJava(ThreadRec& thread, std::unique_lock<std::recursive_mutex>& lock, const char* what,
                    const std::function<void()>& body) {
    pushFrame(thread, kDefaultFrameCapacity);
    const std::size_t depth = thread.frames.size();
    ++thread.javaDepth;
    lock.unlock();
    try {
        body();
    } catch (...) {
        lock.lock();
        violation(std::string(what) + ": a C++ exception escaped into Java");
        lock.unlock();
    }
    lock.lock();
    --thread.javaDepth;
    if (thread.frames.size() > depth) violation(std::string(what) + ": returned with a local frame still pushed");
    while (thread.frames.size() >= depth) popFrame(thread);
}

jobject State::newLocal(ThreadRec& thread, ObjectPtr target) {
    auto handle = reinterpret_cast<jobject>(kHandleBase + ++nextHandle * kHandleStep);
    Frame& frame = thread.frames.back();
    refs.emplace(reinterpret_cast<std::uintptr_t>(handle),
                 Ref{RefKind::Local, std::move(target), &thread, thread.frames.size() - 1});
    frame.locals.push_back(handle);
    ++frame.live;
    ++thread.liveLocals;
    ++liveLocals;
    if (frame.live > frame.capacity && !frame.overflowReported) {
        frame.overflowReported = true;
        violation("local references: more than " + std::to_string(frame.capacity) +
                  " live in one frame (missing DeleteLocalRef or EnsureLocalCapacity)");
    }
    return handle;
}

jobject State::newGlobal(ObjectPtr target) {
    auto handle = reinterpret_cast<jobject>(kHandleBase + ++nextHandle * kHandleStep);
    refs.emplace(reinterpret_cast<std::uintptr_t>(handle), Ref{RefKind::Global, std::move(target)});
    ++liveGlobals;
    return handle;
}

ObjectPtr State::resolve(const char* fn, const ThreadRec* thread, jobject handle) {
    if (handle == nullptr) return nullptr;
    auto found = refs.find(reinterpret_cast<std::uintptr_t>(handle));
    const std::string name = std::string(fn) + ": ";
    if (found == refs.end()) {
        violation(name + "invalid reference " + handleText(handle) + " (never handed out by the JVM)");
        return nullptr;
    }
    const Ref& ref = found->second;
    const char* kind = ref.kind == RefKind::Local ? "local" : "global";
    if (!ref.live) {
        violation(name + "use of deleted " + kind + " reference " + handleText(handle));
        return nullptr;
    }
    if (ref.kind == RefKind::Local && ref.owner != thread) {
        violation(name + "local reference " + handleText(handle) + " of thread " + threadText(ref.owner->id) +
                  " used on thread " + threadText(std::this_thread::get_id()));
        return nullptr;
    }
    return ref.target;
}

ObjectPtr State::resolveNonNull(const char* fn, const ThreadRec* thread, jobject handle, const char* what) {
    if (handle == nullptr) {
        violation(std::string(fn) + ": null " + what);
        return nullptr;
    }
    return resolve(fn, thread, handle);
}

Class* State::resolveClass(const char* fn, const ThreadRec* thread, jclass handle) {
    ObjectPtr object = resolveNonNull(fn, thread, handle, "class");
    if (!object) return nullptr;
    if (object->mirrorOf == nullptr) {
        violation(std::string(fn) + ": " + handleText(handle) + " is an object of " + object->klass->name +
                  ", not a class");
    }
    return object->mirrorOf;
}

void State::deleteRef(const char* fn, const ThreadRec* thread, jobject handle, RefKind kind) {
    if (handle == nullptr) return;
    auto found = refs.find(reinterpret_cast<std::uintptr_t>(handle));
    const bool wrongKind = found != refs.end() && found->second.live && found->second.kind != kind;
    if (wrongKind) {
        violation(std::string(fn) + ": " + handleText(handle) + " is a " +
                  (kind == RefKind::Local ? "global" : "local") + " reference");
        return;
    }
    if (!resolve(fn, thread, handle)) return;
    Ref& ref = found->second;
    ref.live = false;
    ref.target.reset();
    if (kind == RefKind::Global) {
        --liveGlobals;
        return;
    }
    --ref.owner->frames[ref.frame].live;
    --ref.owner->liveLocals;
    --liveLocals;
}

const Field* State::field(const char* fn, jfieldID id) {
    if (fieldIds.count(id) != 0) return reinterpret_cast<const Field*>(id);
    violation(std::string(fn) + ": invalid field ID " + handleText(id));
    return nullptr;
}

const Method* State::method(const char* fn, jmethodID id) {
    if (methodIds.count(id) != 0) return reinterpret_cast<const Method*>(id);
    violation(std::string(fn) + ": invalid method ID " + handleText(id));
    return nullptr;
}

State* stateOf(JNIEnv* env) {
    auto* holder = reinterpret_cast<ThreadEnv*>(env);
    return env != nullptr && holder->magic == kEnvMagic ? holder->state : nullptr;
}

State* stateOf(JavaVM* vm) {
    auto* holder = reinterpret_cast<VmHolder*>(vm);
    return vm != nullptr && holder->magic == kVmMagic ? holder->state : nullptr;
}

Entry::Entry(JNIEnv* env, const char* function, bool exceptionSafe) : fn(function), state(stateOf(env)) {
    if (state == nullptr) {
        std::fprintf(stderr, "JNI violation: %s: called with an environment that is not a JNIEnv\n", fn);
        return;
    }
    lock = std::unique_lock(state->mutex);
    ThreadRec* owner = reinterpret_cast<ThreadEnv*>(env)->thread;
    const std::string name = std::string(fn) + ": ";
    if (!owner->attached) {
        state->violation(name + "JNIEnv used after its thread detached");
        return;
    }
    if (owner->id != std::this_thread::get_id()) {
        state->violation(name + "JNIEnv of thread " + threadText(owner->id) + " used on thread " +
                         threadText(std::this_thread::get_id()));
        return;
    }
    thread = owner;
    if (!exceptionSafe && thread->pending) {
        const ThrowableInfo info = State::describe(*thread->pending);
        state->violation(name + "called with an exception pending (" + info.className + ": " + info.message + ")");
    }
}

}  // namespace StandIn::detail
