#include "driver/ComInitialization.h"

#include <objbase.h>

#include "bridge/Exceptions.h"
#include "com/ComFailure.h"

namespace Dravlo {

void ComInitialization::initialize(const char* failureMessage) {
    // Every initialisation begins here: what an earlier one on this thread
    // failed at is not this one's reason.
    clearComFailure();
    const HRESULT result = CoInitialize(nullptr);
    if (result == S_OK) {
        owed_.set(this);  // any non-null mark
        return;
    }
    if (result == S_FALSE) CoUninitialize();  // this call's own reference
    recordComFailure(ComStep::StartCom, GUID_NULL, result);
    throw IOException(failureMessage);
}

void ComInitialization::uninitialize() noexcept {
    if (owed_.get() == nullptr) return;  // nothing of this thread's COM is ours to end
    owed_.set(nullptr);
    CoUninitialize();
}

}  // namespace Dravlo
