#include "com/AxisDriver.h"

#include "com/ComFailure.h"

namespace Dravlo {

ComRef<IUnknown> createAxisObject(REFCLSID clsid, REFIID iid) noexcept {
    ComRef<IUnknown> unknown;
    HRESULT result = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.putVoid());
    if (FAILED(result) || !unknown) {
        recordComFailure(ComStep::Create, clsid, FAILED(result) ? result : E_POINTER);
        return {};
    }
    // A failed OleRun or QueryInterface hands out nothing, whatever it wrote.
    if (result = OleRun(unknown.get()); FAILED(result)) {
        recordComFailure(ComStep::Run, clsid, result);
        return {};
    }
    void* wanted = nullptr;
    if (result = unknown->QueryInterface(iid, &wanted); FAILED(result)) {
        recordComFailure(ComStep::AskCollection, clsid, result);
        return {};
    }
    return ComRef<IUnknown>::adopt(static_cast<IUnknown*>(wanted));  // the IUnknown is released after
}

}  // namespace Dravlo
