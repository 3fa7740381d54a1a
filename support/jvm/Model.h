#pragma once
// The stand-in's internal model, shared by its translation units: classes,
// objects, references, threads with their frames and pending exceptions, and
// the checks every JNI function runs. Everything here is guarded by
// State::mutex; method bodies and native bodies run with it released.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "support/jvm/JvmStandIn.h"

namespace StandIn::detail {

inline constexpr std::uint32_t kEnvMagic = 0x4a4e4945;  // "JNIE"
inline constexpr std::uint32_t kVmMagic = 0x4a564d21;
/// Like HotSpot with -Xcheck:jni: more live locals in one frame than this is a leak.
inline constexpr std::size_t kDefaultFrameCapacity = 16;

struct Class;
struct State;
struct ThreadRec;

struct Field {
    std::string name, signature;
    Class* owner;
    bool removed = false;
};

struct Method {
    std::string name, signature;
    Class* owner;
    MethodBody body;
    bool removed = false;
    bool isConstructor() const { return name == "<init>"; }
};

struct Object {
    Class* klass = nullptr;
    Class* mirrorOf = nullptr;  // the class this java/lang/Class object stands for
    std::uint64_t id = 0;
    std::map<const Field*, jint> ints;
    std::string message;  // throwables only
};
using ObjectPtr = std::shared_ptr<Object>;

struct Class {
    std::string name;
    Class* super = nullptr;
    bool removed = false;
    std::vector<std::unique_ptr<Field>> fields;
    std::vector<std::unique_ptr<Method>> methods;
    ObjectPtr mirror;

    /// Searches this class, then its superclasses; removed members are invisible.
    const Field* findField(const std::string& fieldName, const std::string& signature) const;
    /// Constructors are searched in this class only, other methods up the chain.
    const Method* findMethod(const std::string& methodName, const std::string& signature) const;
    bool derivesFrom(const Class* base) const;
};

enum class RefKind { Local, Global };

struct Ref {
    RefKind kind;
    ObjectPtr target;  // dropped when the reference is deleted
    ThreadRec* owner = nullptr;
    std::size_t frame = 0;
    bool live = true;
};

/// What a JNIEnv* points at: the C++ JNIEnv first, so the pointer converts back.
struct ThreadEnv {
    JNIEnv env;
    std::uint32_t magic;
    State* state;
    ThreadRec* thread;
};

struct Frame {
    std::vector<jobject> locals;
    std::size_t live = 0;
    std::size_t capacity = kDefaultFrameCapacity;
    bool overflowReported = false;
    bool pushedByJni = false;  // only these may be popped by PopLocalFrame
};

enum class ThreadKind { Java, Native };

struct ThreadRec {
    std::thread::id id;
    ThreadKind kind;
    bool attached = true;
    int javaDepth = 0;          // Java activations (native calls, method bodies) on the stack
    std::vector<Frame> frames;  // frames[0]: the thread's base frame, freed at detach
    ObjectPtr pending;
    std::size_t liveLocals = 0;
    ThreadEnv env{};
};

struct VmHolder {
    JavaVM vm;
    std::uint32_t magic;
    State* state;
};

struct Signature {
    std::vector<std::string> params;  // field descriptors: "I", "Ljava/lang/String;", "[I"
    std::string result;
};
/// Parses "(...)R"; nullopt when malformed.
std::optional<Signature> parseSignature(const std::string& text);

struct State {
    State();

    mutable std::recursive_mutex mutex;
    std::map<std::string, std::unique_ptr<Class>> classes;
    std::unordered_set<const void*> fieldIds, methodIds;
    std::unordered_map<std::uintptr_t, Ref> refs;
    std::uintptr_t nextHandle = 0;
    std::uint64_t nextObjectId = 0;
    std::vector<std::unique_ptr<ThreadRec>> threads;  // never freed: a stale JNIEnv stays detectable
    std::map<std::thread::id, ThreadRec*> attached;
    VmHolder vm;

    std::map<std::string, Where> findClassFailures;
    bool getJavaVmFails = false, attachFails = false, newObjectFails = false;

    std::size_t liveGlobals = 0, liveLocals = 0;
    std::size_t attachCount = 0, detachCount = 0, failedAttachCount = 0;
    std::map<std::string, std::size_t> created;
    std::vector<std::string> violations;
    ViolationHandler handler;
    std::vector<ThrowableInfo> uncaught;
    std::vector<ThrowableInfo> described;  ///< printed by ExceptionDescribe

    // Reporting
    void violation(const std::string& message);

    // Classes and objects
    Class& defineClass(const std::string& name, Class* super);
    Class* findClass(const std::string& name) const;  // null when unknown or removed
    ObjectPtr newObject(Class& cls);
    void raise(ThreadRec& thread, const std::string& className, const std::string& message);
    static ThrowableInfo describe(const Object& throwable);

    // Threads
    ThreadRec* current();
    ThreadRec& attach(ThreadKind kind);
    void detach(ThreadRec& thread);
    void pushFrame(ThreadRec& thread, std::size_t capacity);
    void popFrame(ThreadRec& thread);
    /// Runs Java code on `thread` in a frame of its own with the lock released.
    void runJava(ThreadRec& thread, std::unique_lock<std::recursive_mutex>& lock, const char* what,
                 const std::function<void()>& body);

    // References
    jobject newLocal(ThreadRec& thread, ObjectPtr target);
    jobject newGlobal(ObjectPtr target);
    /// The object behind `ref`, or null after reporting an unusable reference
    /// (also null, unreported, for a null `ref`).
    ObjectPtr resolve(const char* fn, const ThreadRec* thread, jobject ref);
    /// As resolve, and reports a null `ref` too.
    ObjectPtr resolveNonNull(const char* fn, const ThreadRec* thread, jobject ref, const char* what);
    Class* resolveClass(const char* fn, const ThreadRec* thread, jclass ref);
    void deleteRef(const char* fn, const ThreadRec* thread, jobject ref, RefKind kind);
    const Field* field(const char* fn, jfieldID id);
    const Method* method(const char* fn, jmethodID id);
};

/// The state behind an environment, or null when `env` is not one of ours.
State* stateOf(JNIEnv* env);
State* stateOf(JavaVM* vm);
/// Text for a handle in messages: "0x...".
std::string handleText(const void* handle);

/// One JNI function's entry: takes the lock and checks the environment (known,
/// attached, used on its own thread) and, unless the function is
/// exception-safe, that no exception is pending. False when the call must not
/// proceed (only environment faults stop it; a pending exception is reported
/// and the call goes on, as with -Xcheck:jni).
class Entry {
public:
    Entry(JNIEnv* env, const char* fn, bool exceptionSafe = false);
    explicit operator bool() const noexcept { return thread != nullptr; }

    const char* fn;
    State* state = nullptr;
    ThreadRec* thread = nullptr;
    std::unique_lock<std::recursive_mutex> lock;
};

/// The shared function tables.
const JNINativeInterface_* envTable();
const JNIInvokeInterface_* vmTable();
/// Fills in the class, object, field and method functions (EnvObjects.cpp).
void installObjectFunctions(JNINativeInterface_& table);
/// Sets every function slot of `table` to a trap that reports its own name.
void fillWithTraps(JNINativeInterface_& table);
/// The published name of slot `index` of JNINativeInterface_ (reserved slots included).
const char* envSlotName(std::size_t index);

}  // namespace StandIn::detail
