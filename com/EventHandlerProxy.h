#pragma once
// The two narrow views through which an event sink reaches the rest of the
// eventing layer: the receiver that runs an event, and the connection node
// that knows which receiver operation an event is bound to. A sink holds both
// as non-owning pointers, so neither view is ever deleted through.

#include <windows.h>
#include <oleauto.h>

namespace Dravlo {

/// The receiver side of an event sink. Receivers implement `dispatch`; it is
/// called on whatever thread the device driver delivers the event on.
class __EventHandlerProxy {
public:
    /// Runs the receiver operation numbered `dispatchCode` with the event's
    /// arguments: two 32-bit integers and, for the Error events only, the error
    /// text (borrowed: valid only during the call; null for two-argument events).
    /// Code -1 means no operation is bound to the event and must do nothing.
    virtual HRESULT dispatch(int dispatchCode, int first, int second, BSTR errorInfo) = 0;

protected:
    __EventHandlerProxy() noexcept = default;
    ~__EventHandlerProxy() = default;
    __EventHandlerProxy(const __EventHandlerProxy&) = delete;
    __EventHandlerProxy& operator=(const __EventHandlerProxy&) = delete;
};

/// The connection-node side of an event sink.
class __EventHandlerNodeProxy {
public:
    /// The dispatch code bound to event `eventIndex`, or -1 when none is bound
    /// (also for an index outside the node's events). Callable from any thread.
    virtual int dispatchCodeOf(int eventIndex) const noexcept = 0;

protected:
    __EventHandlerNodeProxy() noexcept = default;
    ~__EventHandlerNodeProxy() = default;
    __EventHandlerNodeProxy(const __EventHandlerNodeProxy&) = delete;
    __EventHandlerNodeProxy& operator=(const __EventHandlerNodeProxy&) = delete;
};

/// The dispatch code that binds no receiver operation.
inline constexpr int NoDispatchCode = -1;

}  // namespace Dravlo
