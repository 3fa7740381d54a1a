#include "bridge/JavaListenerRef.h"

#include <cassert>
#include <utility>

#include "bridge/JniLookup.h"
#include "bridge/JniRef.h"

namespace Dravlo {

// One registered listener; `next` links the ones waiting to be deleted.
struct JavaListenerRef::Registration {
    GlobalRef<jobject> listener;
    jmethodID callback;
    Registration* next = nullptr;
};

void JavaListenerRef::destroy(JNIEnv* env, Registration* list) noexcept {
    while (list != nullptr) {
        Registration* const next = list->next;
        list->listener.reset(env);  // on this thread's environment, which may not be the registering one
        delete list;
        list = next;
    }
}

void JavaListenerRef::registerListener(JNIEnv* env, jobject listener, const std::string& method,
                                       const std::string& signature) {
    if (listener == nullptr) {
        release(env);
        return;
    }
    GlobalRef<jobject> fresh = GlobalRef<jobject>::create(env, listener);
    if (!fresh) return;  // out of memory: the JVM's error is pending
    jmethodID callback = JniLookup(env).methodId(fresh.get(), method, signature);
    auto* registration = new Registration{std::move(fresh), callback};
    retire(env, current_.exchange(registration));
}

void JavaListenerRef::notify(JNIEnv* env, jobject event) {
    // Counted in before the read: see the header.
    state_.fetch_add(Step);
    if (const Registration* target = current_.load())
        env->CallVoidMethod(target->listener.get(), target->callback, event);
    leave(env);
}

void JavaListenerRef::leave(JNIEnv* env) noexcept {
    const State before = state_.fetch_sub(Step);
    assert(before >= Step);  // counted in by this notify
    if (before != (Step | Waiting)) return;
    // The last notify out while registrations wait: whoever could still
    // read them has left. Unless another notify came in meanwhile (it will
    // be the last one then), the waiting ones are this thread's to delete.
    Registration* waiting = nullptr;
    {
        std::lock_guard lock(mutex_);
        State idle = Waiting;
        if (state_.compare_exchange_strong(idle, 0)) waiting = std::exchange(waiting_, nullptr);
    }
    destroy(env, waiting);
}

void JavaListenerRef::retire(JNIEnv* env, Registration* previous) noexcept {
    if (previous == nullptr) return;
    {
        std::lock_guard lock(mutex_);
        State state = state_.load();
        while (state >= Step) {
            if (state_.compare_exchange_weak(state, state | Waiting)) {
                previous->next = std::exchange(waiting_, previous);
                return;
            }
        }
    }
    destroy(env, previous);  // no notify runs: none can hold it
}

void JavaListenerRef::release(JNIEnv* env) { retire(env, current_.exchange(nullptr)); }

bool JavaListenerRef::registered() const { return current_.load() != nullptr; }

}  // namespace Dravlo
