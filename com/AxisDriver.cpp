#include "com/AxisDriver.h"

namespace Dravlo {

ComRef<IUnknown> createAxisObject(REFCLSID clsid, REFIID iid) noexcept {
    ComRef<IUnknown> unknown;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.putVoid())) || !unknown) return {};
    // A failed OleRun or QueryInterface hands out nothing, whatever it wrote.
    void* wanted = nullptr;
    if (FAILED(OleRun(unknown.get())) || FAILED(unknown->QueryInterface(iid, &wanted))) wanted = nullptr;
    return ComRef<IUnknown>::adopt(static_cast<IUnknown*>(wanted));  // the IUnknown is released after
}

}  // namespace Dravlo
