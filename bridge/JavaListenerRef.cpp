#include "bridge/JavaListenerRef.h"

#include <cassert>
#include <utility>

#include "bridge/JniLookup.h"
#include "bridge/JniRef.h"

namespace Dravlo {

// One registered listener; `next` links the swapped-out ones in a list.
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
    if (Registration* previous = current_.exchange(registration)) settle(env, previous);
}

void JavaListenerRef::notify(JNIEnv* env, jobject event) {
    // Counted in before the read: see the header.
    const State entered = state_.fetch_add(Step);
    if (const Registration* target = current_.load())
        env->CallVoidMethod(target->listener.get(), target->callback, event);
    leave(env, entered & Flips);
}

void JavaListenerRef::leave(JNIEnv* env, State flips) noexcept {
    // A flip since this notify came in made it an earlier one. No second flip
    // comes while it runs: a flip needs every earlier one out.
    State state = state_.load();
    bool earlier = false;
    State left = 0;
    do {
        earlier = (state & Flips) != flips;
        assert(earlier ? state >= EarlierStep : (state & Running) != 0);  // counted in by this notify
        left = state - (earlier ? EarlierStep : Step);
    } while (!state_.compare_exchange_weak(state, left));
    if (earlier && left < EarlierStep) settle(env, nullptr);  // the last earlier one out
}

void JavaListenerRef::settle(JNIEnv* env, Registration* retired) noexcept {
    Registration* unheld = nullptr;     // the earlier registrations, once no earlier notify runs
    Registration* neverHeld = nullptr;  // the waiting ones, when no notify runs at all
    {
        std::lock_guard lock(mutex_);
        if (retired != nullptr) retired->next = std::exchange(waiting_, retired);
        State state = state_.load();
        // Earlier notifies still run: the last one out settles. Only a flip
        // adds earlier ones, and flips happen here, so none can come in now.
        if (state >= EarlierStep) return;
        unheld = std::exchange(earlier_, nullptr);
        while (waiting_ != nullptr) {
            if ((state & Running) == 0) {
                neverHeld = std::exchange(waiting_, nullptr);
            } else if (state_.compare_exchange_weak(
                           state, ((state & Flips) ^ Flips) + (state & Running) / Step * EarlierStep)) {
                earlier_ = std::exchange(waiting_, nullptr);  // the running ones become the earlier ones
            }
        }
    }
    destroy(env, unheld);
    destroy(env, neverHeld);
}

void JavaListenerRef::release(JNIEnv* env) {
    if (Registration* previous = current_.exchange(nullptr)) settle(env, previous);
}

bool JavaListenerRef::registered() const { return current_.load() != nullptr; }

}  // namespace Dravlo
