#pragma once
// A minimal event sink for tests of the simulated driver, in-process or
// installed: records every Invoke with its thread and counts its references.

#include <windows.h>
#include <comdef.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace ComTest {

// A minimal event sink: records every Invoke and counts its references. It
// lives on the stack; its owner holds the first reference.
class RecordingSink final : public IDispatch {
public:
    struct Call {
        DISPID dispid;
        std::vector<_variant_t> rgvarg;  // as received: last parameter first
        UINT namedArgs;
        DWORD threadId;
    };

    explicit RecordingSink(const IID& eventIid) : eventIid_(eventIid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        bool wanted =
            riid == IID_IUnknown || (riid == eventIid_ && answerEventIid) || (riid == IID_IDispatch && answerDispatch);
        if (!wanted) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        Call call{dispid, {}, params->cNamedArgs, GetCurrentThreadId()};
        for (UINT i = 0; i < params->cArgs; ++i) call.rgvarg.emplace_back(params->rgvarg[i]);
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
        }
        if (onInvoke) onInvoke();
        return answer;
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    std::atomic<long> refs{1};
    bool answerEventIid = true;
    bool answerDispatch = true;
    HRESULT answer = S_OK;
    /// Run after recording, inside the Invoke (set before the sink is advised).
    std::function<void()> onInvoke;

private:
    IID eventIid_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

}  // namespace ComTest
