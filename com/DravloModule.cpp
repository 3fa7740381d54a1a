#include "com/DravloModule.h"

// Provided by the linker for every PE image (MSVC and MinGW alike).
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace Dravlo {

namespace {
std::atomic<CAtlModule*> theModule{nullptr};
}

CAtlModule::CAtlModule() noexcept { theModule.store(this); }

CAtlModule::~CAtlModule() {
    CAtlModule* self = this;
    theModule.compare_exchange_strong(self, nullptr);
}

CAtlModule* currentModule() noexcept { return theModule.load(); }

HINSTANCE moduleInstance() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

}  // namespace Dravlo
