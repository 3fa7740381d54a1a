#pragma once
// JavaListenerRef: the one Java listener registered for a kind of event, as a
// JNI global reference with the method to call on it.
// Thread rule: registration and release run on Java threads, notify on event
// threads, all at once if Java so wishes; a listener may register or release
// from inside its own callback. Enforced here, with no lock per event:
// - The current registration is one atomic pointer. Registration and release
//   swap it; notify reads it, counted in as a running notify on the holder's
//   state word first and counted out after the call (one atomic operation
//   each). Both sides are sequentially consistent, so a registration that
//   finds no notify counted in after its swap knows that none can hold the
//   registration it took out.
// - A registration swapped out while notifies run waits in a list (under the
//   mutex, which no event takes unless something waits, and which nobody
//   holds across a call) with the Waiting bit set; the last notify to count
//   out deletes every waiting one. So a registration's global reference is
//   deleted by whoever lets go of it last: the Java thread that replaced or
//   released it, or the event thread whose call was still running then (on
//   its own, still attached, environment). A reference is never deleted while
//   a call uses it, and an event costs no JNI call beyond the callback
//   itself. Debug builds assert that every notify counted out was counted in.
// The destructor (library unload) makes no JNI call: a listener still
// registered then, or still waiting, is abandoned, not released.

#include <jni.h>

#include <atomic>
#include <mutex>
#include <string>

namespace Dravlo {

class JavaListenerRef {
public:
    JavaListenerRef() = default;
    JavaListenerRef(const JavaListenerRef&) = delete;
    JavaListenerRef& operator=(const JavaListenerRef&) = delete;
    ~JavaListenerRef() = default;  // abandons: see above

    /// Takes a global reference to `listener` (borrowed) and looks up `method`
    /// with `signature` on its class; then replaces (and releases) the listener
    /// held before. A failed lookup throws JNIException and leaves the earlier
    /// listener in place. A null `listener` unregisters: same as release.
    void registerListener(JNIEnv* env, jobject listener, const std::string& method, const std::string& signature);

    /// Calls the listener's method with `event` (borrowed) when one is
    /// registered; otherwise nothing. A Java exception the callback throws is
    /// left pending for the caller.
    void notify(JNIEnv* env, jobject event);

    /// Deletes the global reference, if any; the holder is empty afterwards.
    void release(JNIEnv* env);

    /// Whether a listener is registered now.
    bool registered() const;

private:
    struct Registration;
    using State = unsigned long long;
    static constexpr State Waiting = 1;  // swapped-out registrations wait in waiting_
    static constexpr State Step = 2;     // one running notify

    /// Counts a notify out; the last one out while registrations wait deletes
    /// them with `env`.
    void leave(JNIEnv* env) noexcept;
    /// `previous`, just swapped out, deleted with `env` now when no notify
    /// runs, else left to the last one out.
    void retire(JNIEnv* env, Registration* previous) noexcept;
    static void destroy(JNIEnv* env, Registration* list) noexcept;

    std::atomic<Registration*> current_{nullptr};
    std::atomic<State> state_{0};  // running notifies times Step, plus Waiting
    std::mutex mutex_;             // guards waiting_, and Waiting's clearing
    Registration* waiting_ = nullptr;
};

}  // namespace Dravlo
