#pragma once
// UniqueResource: the sole owner of one resource that a value names (a BSTR,
// a registry key, a VARIANT, a module lock, a COM reference). One template
// serves every kind; a kind is a traits struct and an alias:
//
//   struct Traits {
//       using Value = ...;
//       static Value invalid() noexcept;           // what an empty owner holds
//       static bool valid(const Value&) noexcept;  // whether there is anything to give back
//       static void close(Value&) noexcept;        // gives it back
//   };
//
// Move-only; the destructor closes. Nothing is acquired here: the owner takes
// over a value its caller got.
// Caveats: a resource whose address is its identity (a CRITICAL_SECTION)
// cannot move and keeps a class of its own; a JNI reference, given back
// through an environment, has its owners in bridge/JniRef.h.
// Thread rule: none of its own; the resource's rules apply.

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace Dravlo {

template <class Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() noexcept : value_(Traits::invalid()) {}
    /// Takes over `value`; closes it at the end.
    explicit UniqueResource(Value value) noexcept : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(other.detach()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    /// The held value, still owned here.
    const Value& get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return Traits::valid(value_); }
    /// Closes what is held and returns the empty slot, for an out-parameter.
    Value* put() noexcept {
        reset();
        return &value_;
    }
    /// Closes what is held (if anything) and takes over `value`.
    void reset(Value value = Traits::invalid()) noexcept {
        Value old = std::exchange(value_, value);
        if (Traits::valid(old)) Traits::close(old);
    }
    /// Gives the value up to the caller without closing it; empty afterwards.
    [[nodiscard]] Value detach() noexcept { return std::exchange(value_, Traits::invalid()); }

private:
    Value value_;
};

/// Traits of a value whose empty state is a null pointer or handle.
template <class T, void (*Close)(T) noexcept>
struct NullableTraits {
    using Value = T;
    static T invalid() noexcept { return nullptr; }
    static bool valid(const T& value) noexcept { return value != nullptr; }
    static void close(T& value) noexcept { Close(value); }
};

namespace ResourceClose {
inline void bstr(BSTR text) noexcept { SysFreeString(text); }
inline void registryKey(HKEY key) noexcept { RegCloseKey(key); }
inline void localText(wchar_t* text) noexcept { LocalFree(text); }
}  // namespace ResourceClose

/// One BSTR (SysFreeString).
using UniqueBstr = UniqueResource<NullableTraits<BSTR, ResourceClose::bstr>>;
/// One open registry key (RegCloseKey).
using UniqueRegKey = UniqueResource<NullableTraits<HKEY, ResourceClose::registryKey>>;
/// One text the system allocated with LocalAlloc (FormatMessage's buffer).
using UniqueLocalText = UniqueResource<NullableTraits<wchar_t*, ResourceClose::localText>>;

/// A VARIANT of the owner's own: VariantInit when empty, VariantClear at the
/// end. An empty VARIANT holds nothing to clear.
struct VariantTraits {
    using Value = VARIANT;
    static VARIANT invalid() noexcept {
        VARIANT value;
        VariantInit(&value);
        return value;
    }
    static bool valid(const VARIANT& value) noexcept { return V_VT(&value) != VT_EMPTY; }
    static void close(VARIANT& value) noexcept { VariantClear(&value); }
};
using UniqueVariant = UniqueResource<VariantTraits>;

}  // namespace Dravlo
