#include "com/EventSink.h"

#include "com/SinkSupport.h"
#include "com/UniqueResource.h"

namespace Dravlo {

namespace {

// No event of either dispinterface has more parameters.
constexpr UINT MaxParameters = 3;

// Refuses parameter blocks that would make Invoke read beyond what the caller
// passed. The checks past the count limit only guard against malformed input.
HRESULT checkShape(const DISPPARAMS& params) noexcept {
    if (params.cArgs > MaxParameters) return DISP_E_BADPARAMCOUNT;
    if (params.cArgs > 0 && params.rgvarg == nullptr) return E_INVALIDARG;
    if (params.cNamedArgs > params.cArgs) return DISP_E_BADPARAMCOUNT;
    if (params.cNamedArgs > 0 && params.rgdispidNamedArgs == nullptr) return E_INVALIDARG;
    return S_OK;
}

// Fills slots[k] with the parameter k places from the end. A named argument
// gives its position; a leading DISPID_PROPERTYPUT takes slot 0.
HRESULT fillSlots(const DISPPARAMS& params, VARIANT* (&slots)[MaxParameters], UINT* argumentError) noexcept {
    UINT named = 0;
    if (params.cNamedArgs > 0 && params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT) {
        slots[0] = &params.rgvarg[0];
        named = 1;
    }
    for (; named < params.cNamedArgs; ++named) {
        DISPID position = params.rgdispidNamedArgs[named];
        if (position < 0 || static_cast<UINT>(position) >= params.cArgs) {
            if (argumentError != nullptr) *argumentError = named;
            return DISP_E_PARAMNOTFOUND;
        }
        slots[params.cArgs - position - 1] = &params.rgvarg[named];
    }
    for (UINT i = named; i < params.cArgs; ++i) slots[i] = &params.rgvarg[i];
    // Two named arguments for one position leave another position empty.
    for (UINT k = 0; k < params.cArgs; ++k)
        if (slots[k] == nullptr) return DISP_E_PARAMNOTFOUND;
    return S_OK;
}

// The event index of `member`, or -1.
int eventIndexOf(const SinkTable& table, DISPID member) noexcept {
    for (size_t i = 0; i < table.events.size(); ++i)
        if (table.events[i].dispid == member) return static_cast<int>(i);
    return -1;
}

// The value of an int parameter in one of the shapes a connection point
// passes (a VT_I4, or a VT_I4 by reference with somewhere to read), read in
// place; false for anything else, which the general path converts (or
// refuses) instead. Either way the value is the same.
bool directInt(const VARIANT& given, int& value) noexcept {
    if (V_VT(&given) == VT_I4) {
        value = V_I4(&given);
        return true;
    }
    if (V_VT(&given) == (VT_I4 | VT_BYREF) && V_I4REF(&given) != nullptr) {
        value = *V_I4REF(&given);
        return true;
    }
    return false;
}

// `slot` itself when it already holds `type`, else its value converted into
// `local`; null when it cannot be converted.
VARIANT* coerce(VARIANT* slot, VARTYPE type, UniqueVariant& local) noexcept {
    if (V_VT(slot) == type) return slot;
    VARIANT* const converted = local.put();
    if (FAILED(VariantChangeType(converted, slot, 0, type))) return nullptr;
    return converted;
}

bool sameName(const wchar_t* candidate, const wchar_t* name) noexcept {
    return CompareStringOrdinal(candidate, -1, name, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

void EventSink::attach(__EventHandlerProxy* receiver, __EventHandlerNodeProxy* node,
                       std::shared_ptr<DeliveryRundown> rundown) noexcept {
    rundown_ = std::move(rundown);
    receiver_.store(receiver);
    node_.store(node);
}

void EventSink::disconnectReceiver() noexcept {
    node_.store(nullptr);
    receiver_.store(nullptr);
}

HRESULT STDMETHODCALLTYPE EventSink::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, table_.diid) || IsEqualIID(riid, IID_IDispatch)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE EventSink::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    ComRef<ITypeInfo> info;
    *count = SUCCEEDED(loadEventTypeInfo(table_.diid, info.put())) ? 1 : 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventSink::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (index != 0) return DISP_E_BADINDEX;
    return loadEventTypeInfo(table_.diid, info);
}

HRESULT STDMETHODCALLTYPE EventSink::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count == 0) return S_OK;
    if (names == nullptr || ids == nullptr) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) {
        const SinkName* match = nullptr;
        for (const SinkName& entry : table_.names) {
            if (names[i] != nullptr && sameName(names[i], entry.name)) {
                match = &entry;
                break;
            }
        }
        if (match == nullptr) return DISP_E_UNKNOWNNAME;
        ids[i] = match->id;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventSink::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                            EXCEPINFO* exception, UINT* argumentError) {
    if (params == nullptr) return DISP_E_BADVARTYPE;
    const int eventIndex = eventIndexOf(table_, member);
    // Nearly every event: two ints, none named, in shapes read in place. The
    // general path below gives the same result for them, at the price of
    // three VARIANTs of its own.
    if (params->cArgs == 2 && params->cNamedArgs == 0 && params->rgvarg != nullptr) {
        int first = 0;
        int second = 0;
        if (eventIndex >= 0 && !table_.events[eventIndex].withErrorInfo && directInt(params->rgvarg[1], first) &&
            directInt(params->rgvarg[0], second)) {
            if (result != nullptr) VariantInit(result);
            return deliver(eventIndex, first, second, nullptr, exception);
        }
    }
    HRESULT hr = checkShape(*params);
    if (FAILED(hr)) return hr;
    if (result != nullptr) VariantInit(result);
    VARIANT* slots[MaxParameters] = {};
    hr = fillSlots(*params, slots, argumentError);
    if (FAILED(hr)) return hr;
    if (eventIndex < 0) return DISP_E_MEMBERNOTFOUND;
    const SinkEvent& event = table_.events[eventIndex];
    const UINT count = event.parameterCount();
    if (params->cArgs != count) return DISP_E_BADPARAMCOUNT;

    // Parameter p (from the first) sits in slot count - 1 - p.
    UniqueVariant locals[MaxParameters];  // the sink's own values, cleared whatever way the call ends
    VARIANT* values[MaxParameters] = {};
    for (UINT p = 0; p < count; ++p) {
        const UINT slot = count - 1 - p;
        const VARTYPE type = (event.withErrorInfo && p == 2) ? VT_BSTR : VT_I4;
        values[p] = coerce(slots[slot], type, locals[p]);
        if (values[p] == nullptr) {
            // The caller's index into rgvarg, which a named argument makes differ from the slot.
            if (argumentError != nullptr) *argumentError = static_cast<UINT>(slots[slot] - params->rgvarg);
            return DISP_E_TYPEMISMATCH;
        }
    }
    BSTR errorInfo = event.withErrorInfo ? V_BSTR(values[2]) : nullptr;
    return deliver(eventIndex, V_I4(values[0]), V_I4(values[1]), errorInfo, exception);
}

HRESULT EventSink::deliver(int eventIndex, int first, int second, BSTR errorInfo, EXCEPINFO* exception) noexcept {
    // While the delivery is counted in, the receiver cannot be freed, and its
    // node holds this sink. Leaving may free both, so nothing of the sink is
    // touched once the scope has ended.
    const DeliveryScope delivery(rundown_.get());
    if (!delivery) return S_OK;  // torn down: nobody to tell
    __EventHandlerNodeProxy* node = node_.load();
    __EventHandlerProxy* receiver = receiver_.load();
    if (node == nullptr || receiver == nullptr) return S_OK;  // detached: nobody to tell
    try {
        (void)receiver->dispatch(node->dispatchCodeOf(eventIndex), first, second, errorInfo);
    } catch (...) {
        if (exception != nullptr) {
            *exception = EXCEPINFO{};
            exception->scode = E_FAIL;
        }
        return DISP_E_EXCEPTION;
    }
    return S_OK;
}

}  // namespace Dravlo
