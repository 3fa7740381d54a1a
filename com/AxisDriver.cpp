#include "com/AxisDriver.h"

namespace Dravlo {

IUnknown* createAxisObject(REFCLSID clsid, REFIID iid) noexcept {
    IUnknown* unknown = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unknown))) ||
        unknown == nullptr)
        return nullptr;
    void* wanted = nullptr;
    if (FAILED(OleRun(unknown)) || FAILED(unknown->QueryInterface(iid, &wanted))) wanted = nullptr;
    unknown->Release();
    return static_cast<IUnknown*>(wanted);
}

}  // namespace Dravlo
