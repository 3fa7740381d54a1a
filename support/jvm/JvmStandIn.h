#pragma once
// JvmStandIn: an in-process Java virtual machine for tests, strict like
// -Xcheck:jni. It serves real JNIEnv and JavaVM function tables over a small
// object model (classes with int fields and C++ method bodies, objects,
// throwables), keeps local references per thread and native frame, global
// references, one pending exception per thread and the attached threads, and
// reports every misuse of JNI as a violation naming the function: a call with
// an exception pending, a deleted or unknown reference, an environment or a
// local reference used on another thread, a call of any table slot it does
// not implement. Handles are never reused, so a stale reference is always
// caught. Thread-safe: one mutex guards the model; method bodies run outside it.

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace StandIn {

namespace detail {
struct State;
struct Class;
}  // namespace detail

/// A Java exception as a test sees it.
struct ThrowableInfo {
    std::string className;  ///< JNI name, e.g. "java/io/IOException"
    std::string message;    ///< empty when thrown without one
    bool operator==(const ThrowableInfo&) const = default;
};

/// A copy of an object's state, taken under the model's lock.
struct ObjectView {
    std::string className;                  ///< empty when the reference was not valid
    std::uint64_t id = 0;                   ///< identity, unique for the life of the stand-in
    std::map<std::string, jint> intFields;  ///< every int field, inherited ones included
};

/// Java code: runs on the calling thread with that thread's environment, the
/// receiver (for a constructor, the new object) and the arguments decoded from
/// the method's signature. It runs in a local frame of its own.
using MethodBody = std::function<void(JNIEnv* env, jobject self, const std::vector<jvalue>& args)>;
using ViolationHandler = std::function<void(const std::string& message)>;

/// Where an injected FindClass failure applies.
enum class Where { AllThreads, AttachedThreadsOnly };

/// Adds members to one class of the model. Cheap to copy; valid while the stand-in lives.
class ClassDef {
public:
    /// Declares an instance field of type int ("I").
    ClassDef& intField(const std::string& name);
    /// Declares an instance field of any other signature (it can be looked up, not read).
    ClassDef& field(const std::string& name, const std::string& signature);
    /// Declares a constructor "<init>" (default "()V"); the body runs on NewObject.
    ClassDef& constructor(MethodBody body = {}, const std::string& signature = "()V");
    /// Declares (or replaces) an instance method; an empty body does nothing.
    ClassDef& method(const std::string& name, const std::string& signature, MethodBody body = {});
    const std::string& name() const;

private:
    friend class JvmStandIn;
    ClassDef(detail::State& state, detail::Class& cls) : state_(&state), cls_(&cls) {}
    detail::State* state_;
    detail::Class* cls_;
};

class JvmStandIn {
public:
    /// A machine with java/lang/Object, Class, String, the Throwable hierarchy
    /// the JNI functions raise, and java/io/IOException defined.
    JvmStandIn();
    ~JvmStandIn();
    JvmStandIn(const JvmStandIn&) = delete;
    JvmStandIn& operator=(const JvmStandIn&) = delete;

    // --- The Java world -------------------------------------------------
    /// Defines (or reopens) a class by JNI name; the superclass must exist.
    ClassDef defineClass(const std::string& name, const std::string& superName = "java/lang/Object");
    /// FindClass stops finding it; existing objects keep it.
    void removeClass(const std::string& name);
    /// GetFieldID / GetMethodID stop finding the member; IDs handed out stay valid.
    void removeField(const std::string& className, const std::string& fieldName);
    void removeMethod(const std::string& className, const std::string& methodName, const std::string& signature);

    // --- Threads --------------------------------------------------------
    /// The JavaVM, as GetJavaVM hands it out.
    JavaVM* javaVm() noexcept;
    /// Makes the calling thread a Java thread (idempotent); its environment.
    JNIEnv* attachJavaThread();
    /// Ends the calling Java thread; its remaining locals are freed, a pending exception becomes uncaught.
    void detachJavaThread();
    /// Runs `body` as a native method called from Java on this thread (made a
    /// Java thread for the call when not attached): a new local frame that is
    /// freed on return. Returns the Java exception the method left pending
    /// (it is thrown to the Java caller, so it no longer pends). A C++
    /// exception escaping `body` is a violation.
    std::optional<ThrowableInfo> callNative(const std::function<void(JNIEnv*)>& body);

    // --- Objects for tests ----------------------------------------------
    /// A new object of `className` (its "()V" constructor runs when defined),
    /// int fields preset; a local reference in the current frame of `env`'s thread.
    jobject newInstance(JNIEnv* env, const std::string& className, const std::map<std::string, jint>& fields = {});
    /// The state of the object behind `ref` (any live reference usable on this thread).
    ObjectView inspect(jobject ref) const;
    /// Lets a method body throw: makes an exception of `className` pending on `env`'s thread.
    void throwJava(JNIEnv* env, const std::string& className, const std::string& message);

    // --- Fault injection ----------------------------------------------
    /// FindClass(className) yields null with NoClassDefFoundError pending.
    void failFindClass(const std::string& className, Where where = Where::AllThreads);
    void failGetJavaVM(bool fail = true);  ///< GetJavaVM returns JNI_ERR and a null machine
    void failAttach(bool fail = true);     ///< AttachCurrentThread returns JNI_ERR
    void failNewObject(bool fail = true);  ///< NewObject yields null with OutOfMemoryError pending
    void clearFaults();

    // --- Observations -----------------------------------------------------
    /// The exception pending on a thread (default: this one), if any.
    std::optional<ThrowableInfo> pendingException(std::thread::id thread = std::this_thread::get_id()) const;
    /// Exceptions still pending when their thread detached, in order.
    std::vector<ThrowableInfo> uncaughtExceptions() const;
    /// Exceptions printed (and cleared) by ExceptionDescribe, in order.
    std::vector<ThrowableInfo> describedExceptions() const;
    std::size_t liveGlobalRefs() const;
    std::size_t liveLocalRefs() const;  ///< on every thread
    std::size_t liveLocalRefs(std::thread::id thread) const;
    std::size_t attaches() const;               ///< AttachCurrentThread calls that attached a thread
    std::size_t detaches() const;               ///< DetachCurrentThread calls that detached one
    std::size_t failedAttaches() const;         ///< attach calls refused by failAttach
    std::size_t attachedNativeThreads() const;  ///< attached through the JavaVM, not yet detached
    /// Whether `thread` is attached now, as a Java thread or through the JavaVM.
    bool isAttached(std::thread::id thread = std::this_thread::get_id()) const;
    std::size_t instancesCreated(const std::string& className) const;  ///< by NewObject and newInstance

    /// Every violation so far, in order; each starts with the JNI function's name.
    std::vector<std::string> violations() const;
    void clearViolations();
    /// Called for each violation (after it is recorded), on the offending thread.
    void setViolationHandler(ViolationHandler handler);
    /// Empty when no reference, native attachment, pending exception or
    /// violation is left over; otherwise a description of each.
    std::string imbalance() const;

private:
    std::unique_ptr<detail::State> state_;
};

}  // namespace StandIn
