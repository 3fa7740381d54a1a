#pragma once
// JavaListenerRef: the one Java listener registered for a kind of event, as a
// JNI global reference with the method to call on it.
// Thread rule: registration and release run on Java threads, notify on event
// threads, all at once if Java so wishes. A mutex guards only which
// registration is current; notify counts itself in as a user of it under the
// lock and calls Java outside it, so a listener may register or release from
// inside its callback. A registration's global reference is deleted by
// whoever lets go of it last: the Java thread that replaced or released it,
// or the event thread whose call was still running then (on its own, still
// attached, environment). So a reference is never deleted while a call uses
// it, and an event costs no JNI call beyond the callback itself.
// The destructor (library unload) makes no JNI call: a listener still
// registered then is abandoned, not released.

#include <jni.h>

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
    /// Counts one user out; the last one deletes the global reference with `env`.
    static void leave(JNIEnv* env, Registration* registration) noexcept;

    mutable std::mutex mutex_;
    Registration* current_ = nullptr;  // one use of it belongs to this holder; null when empty
};

}  // namespace Dravlo
