// The installed simulator's class registration.

#include "support/axis/ServerRegistration.h"

#include <memory>

#include "com/AxisDriver.h"

namespace AxisSim {

namespace {

struct KeyCloser {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
/// Owns one open registry key.
using OwnedKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct ServerClass {
    const CLSID* clsid;
    const wchar_t* description;
};

constexpr ServerClass Classes[] = {
    {&CLSID_AxisJogDial, L"Axis jog dial (AxisSimulator)"},
    {&CLSID_AxisKeyPad, L"Axis keypad (AxisSimulator)"},
};

std::wstring classKeyName(REFCLSID clsid) {
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return std::wstring(L"CLSID\\") + text;
}

OwnedKey openKey(const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return OwnedKey(key);
}

/// The default value of HKCR\`name`; empty when absent.
std::wstring defaultValue(const std::wstring& name) {
    OwnedKey key = openKey(name);
    if (!key) return {};
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    return value;
}

enum class Owner { Nobody, ThisFile, Another };

Owner ownerOf(REFCLSID clsid, const std::wstring& modulePath) {
    const std::wstring name = classKeyName(clsid);
    if (!openKey(name)) return Owner::Nobody;
    const std::wstring server = defaultValue(name + L"\\InprocServer32");
    const bool same =
        !server.empty() && CompareStringOrdinal(server.c_str(), -1, modulePath.c_str(), -1, TRUE) == CSTR_EQUAL;
    return same && !openKey(name + L"\\LocalServer32") ? Owner::ThisFile : Owner::Another;
}

LSTATUS setDefault(const std::wstring& name, const std::wstring& value, const wchar_t* threading = nullptr) {
    HKEY raw = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return status;
    OwnedKey key(raw);
    auto set = [&](const wchar_t* valueName, const std::wstring& data) {
        return RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    };
    status = set(nullptr, value);
    if (status == ERROR_SUCCESS && threading != nullptr) status = set(L"ThreadingModel", threading);
    return status;
}

LSTATUS writeClass(const ServerClass& entry, const std::wstring& modulePath) {
    const std::wstring name = classKeyName(*entry.clsid);
    LSTATUS status = setDefault(name, entry.description);
    if (status == ERROR_SUCCESS) status = setDefault(name + L"\\InprocServer32", modulePath, L"Both");
    return status;
}

void complain(REFCLSID clsid) {
    const std::wstring message = L"AxisSimulator: " + classKeyName(clsid) + L" is registered to another server (" +
                                 defaultValue(classKeyName(clsid) + L"\\InprocServer32") +
                                 L"); it is not taken over and nothing was registered\n";
    OutputDebugStringW(message.c_str());
}

}  // namespace

HRESULT registerServerClasses(const std::wstring& modulePath) noexcept {
    try {
        bool created[std::size(Classes)] = {};
        for (std::size_t i = 0; i < std::size(Classes); ++i) {
            const Owner owner = ownerOf(*Classes[i].clsid, modulePath);
            if (owner == Owner::Another) {
                complain(*Classes[i].clsid);
                return ClassTakenResult;
            }
            created[i] = owner == Owner::Nobody;
        }
        for (std::size_t i = 0; i < std::size(Classes); ++i) {
            const LSTATUS status = writeClass(Classes[i], modulePath);
            if (status == ERROR_SUCCESS) continue;
            for (std::size_t j = 0; j <= i; ++j)
                if (created[j]) RegDeleteTreeW(HKEY_CLASSES_ROOT, classKeyName(*Classes[j].clsid).c_str());
            return HRESULT_FROM_WIN32(status);
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT unregisterServerClasses(const std::wstring& modulePath) noexcept {
    try {
        HRESULT result = S_OK;
        for (const ServerClass& entry : Classes) {
            if (ownerOf(*entry.clsid, modulePath) != Owner::ThisFile) continue;
            const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKeyName(*entry.clsid).c_str());
            if (status != ERROR_SUCCESS && SUCCEEDED(result)) result = HRESULT_FROM_WIN32(status);
        }
        return result;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace AxisSim
