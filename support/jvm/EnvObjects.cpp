// JNIEnv functions for classes, objects, int fields, constructors and void
// methods. Method bodies run with the model's lock released, in a local frame
// of their own, after every argument has been checked.

#include <cstdarg>
#include <string_view>

#include "support/jvm/Model.h"

namespace StandIn::detail {

namespace {

using Decoder = std::function<std::vector<jvalue>(const Signature&)>;

std::vector<jvalue> fromVaList(const Signature& signature, va_list args) {
    std::vector<jvalue> values;
    for (const std::string& param : signature.params) {
        jvalue value{};
        switch (param[0]) {
            case 'Z':
                value.z = static_cast<jboolean>(va_arg(args, int));
                break;
            case 'B':
                value.b = static_cast<jbyte>(va_arg(args, int));
                break;
            case 'C':
                value.c = static_cast<jchar>(va_arg(args, int));
                break;
            case 'S':
                value.s = static_cast<jshort>(va_arg(args, int));
                break;
            case 'I':
                value.i = va_arg(args, jint);
                break;
            case 'J':
                value.j = va_arg(args, jlong);
                break;
            case 'F':
                value.f = static_cast<jfloat>(va_arg(args, double));
                break;
            case 'D':
                value.d = va_arg(args, double);
                break;
            default:
                value.l = va_arg(args, jobject);
                break;
        }
        values.push_back(value);
    }
    return values;
}

Decoder fromArray(const jvalue* args) {
    return [args](const Signature& signature) {
        return args == nullptr ? std::vector<jvalue>(signature.params.size())
                               : std::vector<jvalue>(args, args + signature.params.size());
    };
}

// Object arguments must be usable references to instances of the declared type.
bool checkArgs(Entry& e, const Method& method, const Signature& signature, const std::vector<jvalue>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& param = signature.params[i];
        if (param[0] != 'L' || args[i].l == nullptr) continue;
        ObjectPtr arg = e.state->resolve(e.fn, e.thread, args[i].l);
        if (!arg) return false;
        const Class* declared = e.state->findClass(param.substr(1, param.size() - 2));
        if (declared != nullptr && !arg->klass->derivesFrom(declared)) {
            e.state->violation(std::string(e.fn) + ": argument " + std::to_string(i + 1) + " of " + method.name +
                               " is a " + arg->klass->name + ", not a " + declared->name);
            return false;
        }
    }
    return true;
}

void runBody(Entry& e, const Method& method, JNIEnv* env, jobject self, const std::vector<jvalue>& args) {
    if (!method.body) return;
    MethodBody body = method.body;  // the test may redefine the method meanwhile
    e.state->runJava(*e.thread, e.lock, method.name.c_str(), [&] { body(env, self, args); });
}

jclass JNICALL findClass(JNIEnv* env, const char* name) {
    Entry e(env, "FindClass");
    if (!e) return nullptr;
    if (name == nullptr) {
        e.state->violation("FindClass: null class name");
        return nullptr;
    }
    const std::string_view text(name);
    if (text.find('.') != text.npos || (text.size() > 1 && text.front() == 'L' && text.back() == ';'))
        e.state->violation("FindClass: \"" + std::string(text) + "\" is not a JNI class name (use slashes)");
    auto failure = e.state->findClassFailures.find(name);
    const bool injected = failure != e.state->findClassFailures.end() &&
                          (failure->second == Where::AllThreads || e.thread->kind == ThreadKind::Native);
    Class* cls = injected ? nullptr : e.state->findClass(name);
    if (cls == nullptr) {
        e.state->raise(*e.thread, "java/lang/NoClassDefFoundError", name);
        return nullptr;
    }
    return static_cast<jclass>(e.state->newLocal(*e.thread, cls->mirror));
}

jclass JNICALL getObjectClass(JNIEnv* env, jobject object) {
    Entry e(env, "GetObjectClass");
    if (!e) return nullptr;
    ObjectPtr target = e.state->resolveNonNull(e.fn, e.thread, object, "object");
    return target ? static_cast<jclass>(e.state->newLocal(*e.thread, target->klass->mirror)) : nullptr;
}

// GetFieldID and GetMethodID: a missing member is the Java error of its kind.
template <class Id, class Find>
Id lookupMember(JNIEnv* env, const char* fn, jclass cls, const char* name, const char* sig, const char* error,
                Find find) {
    Entry e(env, fn);
    if (!e) return nullptr;
    Class* c = e.state->resolveClass(fn, e.thread, cls);
    if (c == nullptr) return nullptr;
    if (name == nullptr || sig == nullptr) {
        e.state->violation(std::string(fn) + ": null name or signature");
        return nullptr;
    }
    const auto* member = find(*c, name, sig);
    if (member == nullptr) e.state->raise(*e.thread, error, name);
    return reinterpret_cast<Id>(const_cast<void*>(static_cast<const void*>(member)));
}

jfieldID JNICALL getFieldID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return lookupMember<jfieldID>(env, "GetFieldID", cls, name, sig, "java/lang/NoSuchFieldError",
                                  [](const Class& c, const char* n, const char* s) { return c.findField(n, s); });
}

jmethodID JNICALL getMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return lookupMember<jmethodID>(env, "GetMethodID", cls, name, sig, "java/lang/NoSuchMethodError",
                                   [](const Class& c, const char* n, const char* s) { return c.findMethod(n, s); });
}

// The int field `id` of the object behind `object`, or null after a violation.
jint* intSlot(Entry& e, jobject object, jfieldID id) {
    ObjectPtr target = e.state->resolveNonNull(e.fn, e.thread, object, "object");
    const Field* field = e.state->field(e.fn, id);
    if (!target || field == nullptr) return nullptr;
    const std::string prefix = std::string(e.fn) + ": field " + field->owner->name + "." + field->name;
    if (field->signature != "I") {
        e.state->violation(prefix + " has signature " + field->signature + ", not I");
        return nullptr;
    }
    if (!target->klass->derivesFrom(field->owner)) {
        e.state->violation(prefix + " is not a field of " + target->klass->name);
        return nullptr;
    }
    return &target->ints[field];  // the object outlives the call: the caller's reference holds it
}

jint JNICALL getIntField(JNIEnv* env, jobject object, jfieldID id) {
    Entry e(env, "GetIntField");
    jint* slot = e ? intSlot(e, object, id) : nullptr;
    return slot != nullptr ? *slot : 0;
}

void JNICALL setIntField(JNIEnv* env, jobject object, jfieldID id, jint value) {
    Entry e(env, "SetIntField");
    if (jint* slot = e ? intSlot(e, object, id) : nullptr) *slot = value;
}

jobject construct(JNIEnv* env, const char* fn, jclass cls, jmethodID id, const Decoder& decode) {
    Entry e(env, fn);
    if (!e) return nullptr;
    Class* c = e.state->resolveClass(fn, e.thread, cls);
    const Method* ctor = e.state->method(fn, id);
    if (c == nullptr || ctor == nullptr) return nullptr;
    if (!ctor->isConstructor() || ctor->owner != c) {
        e.state->violation(std::string(fn) + ": " + ctor->owner->name + "." + ctor->name + " is not a constructor of " +
                           c->name);
        return nullptr;
    }
    const Signature signature = *parseSignature(ctor->signature);
    const std::vector<jvalue> args = decode(signature);
    if (!checkArgs(e, *ctor, signature, args)) return nullptr;
    if (e.state->newObjectFails) {
        e.state->raise(*e.thread, "java/lang/OutOfMemoryError", "Java heap space");
        return nullptr;
    }
    const ObjectPtr before = e.thread->pending;
    jobject object = e.state->newLocal(*e.thread, e.state->newObject(*c));
    runBody(e, *ctor, env, object, args);
    if (e.thread->pending && e.thread->pending != before) {  // the constructor threw
        e.state->deleteRef(fn, e.thread, object, RefKind::Local);
        return nullptr;
    }
    return object;
}

jobject JNICALL newObjectV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
    return construct(env, "NewObjectV", cls, id, [&](const Signature& s) { return fromVaList(s, args); });
}

jobject JNICALL newObjectA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {
    return construct(env, "NewObjectA", cls, id, fromArray(args));
}

jobject JNICALL newObject(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jobject result = construct(env, "NewObject", cls, id, [&](const Signature& s) { return fromVaList(s, args); });
    va_end(args);
    return result;
}

void callVoid(JNIEnv* env, const char* fn, jobject object, jmethodID id, const Decoder& decode) {
    Entry e(env, fn);
    if (!e) return;
    ObjectPtr self = e.state->resolveNonNull(fn, e.thread, object, "object");
    const Method* method = e.state->method(fn, id);
    if (!self || method == nullptr) return;
    const std::string prefix = std::string(fn) + ": " + method->owner->name + "." + method->name;
    const Signature signature = *parseSignature(method->signature);
    if (method->isConstructor() || signature.result != "V") {
        e.state->violation(prefix + method->signature + " is not a void instance method");
        return;
    }
    if (!self->klass->derivesFrom(method->owner)) {
        e.state->violation(prefix + " is not a method of " + self->klass->name);
        return;
    }
    const std::vector<jvalue> args = decode(signature);
    if (!checkArgs(e, *method, signature, args)) return;
    // Virtual dispatch: the most derived definition wins.
    const Method* target = self->klass->findMethod(method->name, method->signature);
    runBody(e, target != nullptr ? *target : *method, env, object, args);
}

void JNICALL callVoidMethodV(JNIEnv* env, jobject object, jmethodID id, va_list args) {
    callVoid(env, "CallVoidMethodV", object, id, [&](const Signature& s) { return fromVaList(s, args); });
}

void JNICALL callVoidMethodA(JNIEnv* env, jobject object, jmethodID id, const jvalue* args) {
    callVoid(env, "CallVoidMethodA", object, id, fromArray(args));
}

void JNICALL callVoidMethod(JNIEnv* env, jobject object, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    callVoid(env, "CallVoidMethod", object, id, [&](const Signature& s) { return fromVaList(s, args); });
    va_end(args);
}

}  // namespace

void installObjectFunctions(JNINativeInterface_& t) {
    t.FindClass = findClass;
    t.GetObjectClass = getObjectClass;
    t.GetFieldID = getFieldID;
    t.GetMethodID = getMethodID;
    t.GetIntField = getIntField;
    t.SetIntField = setIntField;
    t.NewObject = newObject;
    t.NewObjectV = newObjectV;
    t.NewObjectA = newObjectA;
    t.CallVoidMethod = callVoidMethod;
    t.CallVoidMethodV = callVoidMethodV;
    t.CallVoidMethodA = callVoidMethodA;
}

}  // namespace StandIn::detail
