#pragma once
// Stateless helpers of the eventing layer: connecting a sink to an event
// source's connection point, comparing COM identities, and finding an event
// interface's type information in this library's own type library. Plus the
// one-reference holder the layer keeps its interface pointers in.

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <utility>

namespace Dravlo {

/// Owns one reference to a COM interface. Move-only; releases on destruction.
/// Thread rule: none of its own; the interface's rules apply.
template <class I>
class ComRef {
public:
    ComRef() noexcept = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : p_(other.detach()) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    ~ComRef() { reset(); }

    /// Takes over the caller's reference to `p` (no AddRef).
    static ComRef adopt(I* p) noexcept {
        ComRef ref;
        ref.p_ = p;
        return ref;
    }
    /// Takes a reference of its own to `p` (AddRef when not null).
    static ComRef copy(I* p) noexcept {
        if (p != nullptr) p->AddRef();
        return adopt(p);
    }

    /// The held pointer, still owned by this holder.
    I* get() const noexcept { return p_; }
    I* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    /// Releases the held reference and returns the slot for an out-parameter.
    I** put() noexcept {
        reset();
        return &p_;
    }
    /// Releases the held reference (if any) and takes over `p` without AddRef.
    void reset(I* p = nullptr) noexcept {
        I* old = std::exchange(p_, p);
        if (old != nullptr) old->Release();
    }
    /// Gives the reference up to the caller without releasing it.
    I* detach() noexcept { return std::exchange(p_, nullptr); }

private:
    I* p_ = nullptr;
};

/// Connects `sink` to the connection point of `source` for `diid`. Null source
/// → E_INVALIDARG. Returns the first failure or Advise's result; *cookie is
/// written only on success. Takes no lasting reference of its own.
HRESULT adviseSink(IUnknown* source, IUnknown* sink, REFIID diid, DWORD* cookie) noexcept;

/// Ends the connection `cookie` on the connection point of `source` for `diid`.
/// Null source → E_INVALIDARG; otherwise the first failure or Unadvise's result.
HRESULT unadviseSink(IUnknown* source, REFIID diid, DWORD cookie) noexcept;

/// True when both are null or both are the same COM object (equal IUnknown
/// identity); false when only one is null. Takes no lasting reference.
bool sameObject(IUnknown* a, IUnknown* b) noexcept;

/// Loads this library's own type library anew and returns in *out the type
/// information of `diid` (one reference, owned by the caller; null on failure).
/// Null out → E_POINTER; module file name unavailable (or of MAX_PATH
/// characters or more) → E_FAIL; otherwise the result of LoadTypeLib /
/// GetTypeInfoOfGuid.
HRESULT loadEventTypeInfo(REFIID diid, ITypeInfo** out) noexcept;

}  // namespace Dravlo
