#pragma once
// The limit of the decode figure: the least an IDispatch can do for one
// JogMove. It checks what it reads (the argument block and two VT_I4 values,
// passed last first), then calls the receiver's dispatch with the code bound
// to the event. No dispid table, no coercion, no named arguments, no type
// information: everything beyond this is the cost of the library's sink.

#include <windows.h>
#include <oleauto.h>

#include <atomic>

#include "com/EventHandlerProxy.h"

namespace DravloBench {

class BareSink final : public IDispatch {
public:
    /// `receiver` is borrowed; `code` the dispatch code JogMove is bound to.
    BareSink(Dravlo::__EventHandlerProxy& receiver, int code) noexcept : receiver_(receiver), code_(code) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    /// Lives on the stack of the benchmark: counts only.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (member != JogMove) return DISP_E_MEMBERNOTFOUND;
        if (params == nullptr || params->cArgs != 2 || params->rgvarg == nullptr) return DISP_E_BADPARAMCOUNT;
        const VARIANT& first = params->rgvarg[1];
        const VARIANT& second = params->rgvarg[0];
        if (V_VT(&first) != VT_I4 || V_VT(&second) != VT_I4) return DISP_E_TYPEMISMATCH;
        receiver_.dispatch(code_, V_I4(&first), V_I4(&second), nullptr);
        return S_OK;
    }

    static constexpr DISPID JogMove = 4;

private:
    Dravlo::__EventHandlerProxy& receiver_;
    int code_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace DravloBench
