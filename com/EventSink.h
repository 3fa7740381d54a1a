#pragma once
// The event sinks: IDispatch implementations of the Axis event dispinterfaces
// that turn each Invoke into one call of the receiver's `dispatch`. The jog
// dial and keypad sinks are one class over different tables (EventTables.h);
// `CComObject<…>` makes them concrete, with an atomic reference count and one
// module lock for as long as the object lives.
//
// Caveats:
// - A sink holds its receiver and its node without owning either, and a
//   share of the receiver's DeliveryRundown. Every delivery enters that
//   rundown before it reads the receiver, so teardown waits for it (or, on
//   the delivery's own thread, lets it finish first); once the rundown is
//   closed events are answered S_OK and dropped. Whoever frees node or
//   receiver also calls `detach`.
// - Invoke runs on whatever thread the device driver calls it on; it only
//   reads the receiver, the node and the node's dispatch codes. Its caller
//   holds a reference to it, as COM requires; while the delivery is inside
//   the rundown the receiver's node holds one too, so a listener that ends
//   the connection from its callback cannot free the sink under the call.
// - No exception leaves a sink method; a throwing receiver costs the event.

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <memory>
#include <new>

#include "com/DeliveryRundown.h"
#include "com/DravloModule.h"
#include "com/EventHandlerProxy.h"
#include "com/EventTables.h"

namespace Dravlo {

/// The shared machinery of both sinks. Abstract: IUnknown's counting comes
/// from CComObject.
class EventSink : public IDispatch {
public:
    /// Points the sink at its receiver and node (neither owned) and the
    /// receiver's rundown (shared). Called once, before the sink is connected
    /// to a source.
    void attach(__EventHandlerProxy* receiver, __EventHandlerNodeProxy* node,
                std::shared_ptr<DeliveryRundown> rundown) noexcept;
    /// Forgets receiver and node: later events are answered S_OK and dropped.
    void disconnectReceiver() noexcept;

    /// IUnknown, the sink's DIID and IDispatch give the sink (AddRef'd).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    /// 1 when the type information of the DIID can be loaded, else 0.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    /// The DIID's type information (caller owns the reference); index 0 only.
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    /// Case-insensitive lookup in the name table; stops at the first unknown name.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    /// Decodes one event and calls the receiver's dispatch with its bound code.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    virtual ~EventSink() = default;

protected:
    explicit EventSink(const SinkTable& table) noexcept : table_(table) {}
    EventSink(const EventSink&) = delete;
    EventSink& operator=(const EventSink&) = delete;

private:
    HRESULT deliver(int eventIndex, int first, int second, BSTR errorInfo, EXCEPINFO* exception) noexcept;

    const SinkTable& table_;
    std::atomic<__EventHandlerProxy*> receiver_{nullptr};
    std::atomic<__EventHandlerNodeProxy*> node_{nullptr};
    std::shared_ptr<DeliveryRundown> rundown_;  // written once, before any Invoke
};

/// The sink of one event dispinterface, described by `Traits::table`.
template <class Traits>
class __EventSinkImpl : public EventSink {
public:
    static constexpr const IID& diid = Traits::table.diid;

protected:
    __EventSinkImpl() noexcept : EventSink(Traits::table) {}
};

using __Impl__IAxisJogDialEvents = __EventSinkImpl<JogDialSinkTraits>;
using __Impl__IAxisKeyPadEvents = __EventSinkImpl<KeyPadSinkTraits>;

/// The sink class for the events of an Axis device interface.
template <class Source>
struct SinkOf;
template <>
struct SinkOf<IJogDialDevice> {
    using type = __Impl__IAxisJogDialEvents;
};
template <>
struct SinkOf<IKeyPadDevice> {
    using type = __Impl__IAxisKeyPadEvents;
};

/// The concrete COM object over `Base`: an atomic reference count (sinks are
/// AddRef'd and released by connection points on any thread) and one module
/// lock held from creation to destruction.
template <class Base>
class CComObject final : public Base {
public:
    /// Makes an object with reference count 0 (the caller AddRefs it) and one
    /// module lock. Allocation failure → E_OUTOFMEMORY, *object null.
    static HRESULT CreateInstance(CComObject** object) noexcept {
        if (object == nullptr) return E_POINTER;
        *object = new (std::nothrow) CComObject();
        return *object != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    /// Returns the new count.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refCount_; }
    /// Returns the new count; destroys the object (and gives back its module
    /// lock) when it reaches 0.
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG remaining = --refCount_;
        if (remaining == 0) delete this;
        return remaining;
    }

private:
    CComObject() noexcept = default;
    ~CComObject() override = default;

    ModuleLock moduleLock_ = lockCurrentModule();
    std::atomic<ULONG> refCount_{0};
};

}  // namespace Dravlo
