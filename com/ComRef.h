#pragma once
// ComRef: the one owner of a COM interface pointer in the library. It holds
// one reference and releases it once. The only other holders are the driver's
// collection holders, which keep comdef's throwing behaviour
// (IJogDialCollectionPtr, IKeyPadCollectionPtr in com/AxisDriver.h).
// Thread rule: none of its own; the interface's rules apply.

#include <windows.h>
#include <unknwn.h>

#include "com/UniqueResource.h"

namespace Dravlo {

template <class I>
struct ComReleaseTraits {
    using Value = I*;
    static I* invalid() noexcept { return nullptr; }
    static bool valid(I* const& p) noexcept { return p != nullptr; }
    static void close(I*& p) noexcept { p->Release(); }
};

/// Owns one reference to `I`. Move-only; Release on reset and destruction.
template <class I>
class ComRef : public UniqueResource<ComReleaseTraits<I>> {
public:
    ComRef() noexcept = default;

    /// Takes over the caller's reference to `p` (no AddRef).
    static ComRef adopt(I* p) noexcept { return ComRef(p); }
    /// Takes a reference of its own to `p` (AddRef when not null).
    static ComRef copy(I* p) noexcept {
        if (p != nullptr) p->AddRef();
        return ComRef(p);
    }

    // cppcheck-suppress CastIntegerToAddressAtReturn ; get() is the base's `const I*&`, which cppcheck does not resolve in a dependent base
    I* operator->() const noexcept { return this->get(); }
    /// Releases what is held and returns the empty slot as the void** that
    /// QueryInterface and CoCreateInstance write (put() gives it as I**).
    void** putVoid() noexcept { return reinterpret_cast<void**>(this->put()); }

private:
    explicit ComRef(I* p) noexcept : UniqueResource<ComReleaseTraits<I>>(p) {}
};

}  // namespace Dravlo
