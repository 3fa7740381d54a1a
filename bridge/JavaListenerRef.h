#pragma once
// JavaListenerRef: the one Java listener registered for a kind of event, as a
// JNI global reference with the method to call on it.
// Thread rule: registration and release run on Java threads, notify on event
// threads, all at once if Java so wishes; a listener may register or release
// from inside its own callback. Enforced here, with no lock per event:
// - The current registration is one atomic pointer. Registration and release
//   swap it; notify reads it, counted in as a running notify on the holder's
//   state word first and counted out after the call (one atomic operation
//   each, a compare-and-swap going out). Both sides are sequentially
//   consistent, so a registration that finds no notify counted in after its
//   swap knows that none can hold the registration it took out.
// - The word counts the running notifies in two parts: those that came in
//   since the last flip, and the earlier ones, from before it. A
//   registration swapped out while notifies run waits in a list; a flip
//   (only when no earlier notify runs) makes the running notifies the
//   earlier ones and hands them the waiting registrations, and the last
//   earlier notify out deletes those. Notifies that come in after a flip do
//   not keep them alive, however many threads keep delivering. The mutex
//   guards the lists and the flips; an event takes it only as the last
//   earlier notify out, and nobody holds it across a call. So a
//   registration's global reference is deleted by whoever lets go of it last:
//   the Java thread that replaced or released it, or an event thread whose
//   call was running then (on its own, still attached, environment). A
//   reference is never deleted while a call uses it, and an event costs no
//   JNI call beyond the callback itself. Debug builds assert that every
//   notify counted out was counted in.
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
    static constexpr State Flips = 1;                     // parity of the flips so far
    static constexpr State Step = 2;                      // one notify come in since the last flip
    static constexpr State EarlierStep = State{1} << 32;  // one notify from before it
    static constexpr State Running = EarlierStep - Step;  // the bits counting the notifies since

    /// Counts a notify out; `flips` is the parity it came in with. The last
    /// earlier one out settles.
    void leave(JNIEnv* env, State flips) noexcept;
    /// Adds `retired` (just swapped out; may be null) to the waiting ones,
    /// then deletes with `env` what no notify can hold any more, and flips
    /// when registrations wait while no earlier notify runs.
    void settle(JNIEnv* env, Registration* retired) noexcept;
    static void destroy(JNIEnv* env, Registration* list) noexcept;

    std::atomic<Registration*> current_{nullptr};
    std::atomic<State> state_{0};      // the flips' parity, running notifies since it times Step, earlier ones
    std::mutex mutex_;                 // guards the lists and the flips
    Registration* earlier_ = nullptr;  // swapped out before the last flip: free once no earlier notify runs
    Registration* waiting_ = nullptr;  // swapped out since: the next flip makes them earlier
};

}  // namespace Dravlo
