#include "com/DriverSupport.h"

#include <objbase.h>

namespace Dravlo {

void ComInitialization::initialize(const char* failureMessage) {
    comInitResult = CoInitialize(nullptr);
    if (comInitResult == S_OK) {
        owed = true;
        return;
    }
    if (comInitResult == S_FALSE) CoUninitialize();  // this call's own reference
    throw IOException(failureMessage);
}

void ComInitialization::uninitialize() noexcept {
    if (!owed) return;
    owed = false;
    CoUninitialize();
}

}  // namespace Dravlo
