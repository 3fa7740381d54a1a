// Every JNIEnv slot the stand-in does not implement is a trap that reports
// its own published name: the library calls only a handful of JNI functions,
// and a call of any other is a fault worth a loud report, not a crash.

#include <cstddef>
#include <string>

#include "support/jvm/JniSlots.h"
#include "support/jvm/Model.h"

// MinGW's va_list carries an ABI attribute that GCC drops from template
// arguments; harmless here, since assigning each trap to its slot checks the type.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wignored-attributes"
#endif

namespace StandIn::detail {

namespace {

#define STANDIN_SLOT_NAME(name) #name,
constexpr const char* kSlotNames[] = {"reserved0", "reserved1", "reserved2", "reserved3",
                                      STANDIN_JNI_ENV_SLOTS(STANDIN_SLOT_NAME)};
#undef STANDIN_SLOT_NAME
constexpr std::size_t kSlotCount = sizeof kSlotNames / sizeof kSlotNames[0];
static_assert(sizeof(JNINativeInterface_) == kSlotCount * sizeof(void*), "JniSlots.h misses slots of jni.h");

#define STANDIN_SLOT_OFFSET(name) offsetof(JNINativeInterface_, name),
constexpr std::size_t kOffsets[] = {STANDIN_JNI_ENV_SLOTS(STANDIN_SLOT_OFFSET)};
#undef STANDIN_SLOT_OFFSET

constexpr bool namesInTableOrder() {
    for (std::size_t i = 0; i < sizeof kOffsets / sizeof kOffsets[0]; ++i)
        if (kOffsets[i] != (i + STANDIN_JNI_RESERVED_SLOTS) * sizeof(void*)) return false;
    return true;
}
static_assert(namesInTableOrder(), "JniSlots.h lists the slots out of jni.h's order");

void reportTrap(JNIEnv* env, std::size_t slot) {
    Entry e(env, kSlotNames[slot], true);
    if (e.state != nullptr)
        e.state->violation(std::string(kSlotNames[slot]) +
                           ": not implemented by the JVM stand-in; nothing in the library should call it");
}

// One trap per slot, with the slot's exact function type (variadic included).
template <std::size_t Slot, class Fn>
struct Trap;

template <std::size_t Slot, class R, class... A>
struct Trap<Slot, R(JNICALL*)(JNIEnv*, A...)> {
    static R JNICALL call(JNIEnv* env, A...) {
        reportTrap(env, Slot);
        return R();
    }
};

template <std::size_t Slot, class R, class... A>
struct Trap<Slot, R(JNICALL*)(JNIEnv*, A..., ...)> {
    static R JNICALL call(JNIEnv* env, A..., ...) {
        reportTrap(env, Slot);
        return R();
    }
};

}  // namespace

void fillWithTraps(JNINativeInterface_& table) {
    table.reserved0 = table.reserved1 = table.reserved2 = table.reserved3 = nullptr;
#define STANDIN_TRAP(name) \
    table.name = &Trap<offsetof(JNINativeInterface_, name) / sizeof(void*), decltype(table.name)>::call;
    STANDIN_JNI_ENV_SLOTS(STANDIN_TRAP)
#undef STANDIN_TRAP
}

const char* envSlotName(std::size_t index) { return index < kSlotCount ? kSlotNames[index] : nullptr; }

}  // namespace StandIn::detail
