#include "com/ComFailure.h"

#include <cstdint>
#include <cwchar>

#include "com/AxisDriver.h"
#include "com/ThreadSlot.h"
#include "com/UniqueResource.h"

namespace Dravlo {

namespace {

// The whole record fits in the slot's pointer: the HRESULT in the low 32
// bits, the step and whether the class is the keypad's above them. Nothing is
// allocated, so nothing is left when the thread ends.
ThreadSlot lastFailure;

constexpr unsigned StepShift = 32;
constexpr unsigned KeyPadShift = 40;

struct Record {
    ComStep step = ComStep::None;
    bool keyPad = false;
    HRESULT result = S_OK;
};

Record read() noexcept {
    const auto packed = reinterpret_cast<std::uintptr_t>(lastFailure.get());
    Record record;
    record.result = static_cast<HRESULT>(static_cast<std::uint32_t>(packed));
    record.step = static_cast<ComStep>((packed >> StepShift) & 0xFF);
    record.keyPad = ((packed >> KeyPadShift) & 1) != 0;
    return record;
}

const wchar_t* stepText(ComStep step) noexcept {
    switch (step) {
        case ComStep::StartCom:
            return L"starting COM on the initialising thread";
        case ComStep::Create:
            return L"creating the Axis %ls object";
        case ComStep::Run:
            return L"running the Axis %ls object";
        case ComStep::AskCollection:
            return L"asking the Axis %ls object for its collection";
        case ComStep::None:
            break;
    }
    return L"";
}

/// Windows' own words for the codes an initialisation meets, so that the
/// reason reads the same wherever the library runs (Wine's message tables
/// lack most of COM's).
const wchar_t* knownText(HRESULT result) noexcept {
    switch (result) {
        case REGDB_E_CLASSNOTREG:
            return L"Class not registered";
        case CLASS_E_CLASSNOTAVAILABLE:
            return L"ClassFactory cannot supply requested class";
        case CO_E_SERVER_EXEC_FAILURE:
            return L"Server execution failed";
        case CO_E_NOTINITIALIZED:
            return L"CoInitialize has not been called";
        case RPC_E_CHANGED_MODE:
            return L"Cannot change thread mode after it is set";
        case E_NOINTERFACE:
            return L"No such interface supported";
        case E_POINTER:
            return L"Invalid pointer";
        case E_FAIL:
            return L"Unspecified error";
        case E_ACCESSDENIED:
            return L"Access is denied";
        case E_OUTOFMEMORY:
            return L"Ran out of memory";
        case S_FALSE:
            return L"COM was started on this thread already";  // no failure to the system
        default:
            return nullptr;
    }
}

/// The system's text for `code`, without its closing period and line end;
/// empty when the system has none.
std::wstring systemText(DWORD code) {
    UniqueLocalText buffer;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    std::wstring text(buffer ? buffer.get() : L"", buffer ? length : 0);
    while (!text.empty() &&
           (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    return text;
}

}  // namespace

void recordComFailure(ComStep step, REFCLSID clsid, HRESULT result) noexcept {
    const bool keyPad = IsEqualCLSID(clsid, CLSID_AxisKeyPad) != 0;
    const std::uintptr_t packed = static_cast<std::uint32_t>(result) |
                                  (static_cast<std::uintptr_t>(step) << StepShift) |
                                  (static_cast<std::uintptr_t>(keyPad) << KeyPadShift);
    // A value in the slot's pointer, never dereferenced.
    lastFailure.set(reinterpret_cast<void*>(packed));  // NOLINT(performance-no-int-to-ptr)
}

void clearComFailure() noexcept { lastFailure.set(nullptr); }

std::wstring describeComFailure() {
    const Record record = read();
    if (record.step == ComStep::None) return {};
    wchar_t text[160];
    std::swprintf(text, std::size(text), stepText(record.step), record.keyPad ? L"keypad" : L"jog dial");
    wchar_t code[16];
    std::swprintf(code, std::size(code), L": 0x%08lX", static_cast<unsigned long>(record.result));
    std::wstring described = std::wstring(text) + code;
    const wchar_t* known = knownText(record.result);
    std::wstring words = known != nullptr ? known : systemText(static_cast<DWORD>(record.result));
    if (words.empty() && HRESULT_FACILITY(record.result) == FACILITY_WIN32)
        words = systemText(static_cast<DWORD>(HRESULT_CODE(record.result)));
    if (!words.empty()) described += L" " + words;
    return described;
}

}  // namespace Dravlo
