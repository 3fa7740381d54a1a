// The installed simulator's class registration.

#include "simulator/ServerRegistration.h"

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

/// A registry value as stored: its type and its text (its bytes as UTF-16,
/// without the terminator), whatever its size.
struct StoredValue {
    DWORD type = REG_NONE;
    std::wstring text;
};

/// Reads the value `value` (null: the default) of HKCR\`name`; the status of
/// the read, ERROR_FILE_NOT_FOUND when the key or the value is absent.
LSTATUS readValue(const std::wstring& name, const wchar_t* value, StoredValue& stored) {
    HKEY raw = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_QUERY_VALUE, &raw);
    if (status != ERROR_SUCCESS) return status;
    const OwnedKey key(raw);
    // A value that grows between asking its size and reading it is read again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        if ((status = RegQueryValueExW(key.get(), value, nullptr, nullptr, nullptr, &size)) != ERROR_SUCCESS)
            return status;
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        status = RegQueryValueExW(key.get(), value, nullptr, &stored.type, reinterpret_cast<BYTE*>(text.data()), &size);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return status;
        text.resize(size / sizeof(wchar_t));
        if (!text.empty() && text.back() == L'\0') text.pop_back();
        stored.text = std::move(text);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

/// The string value `value` (null: the default) of HKCR\`name`; empty when absent.
std::wstring stringValue(const std::wstring& name, const wchar_t* value = nullptr) {
    StoredValue stored;
    if (readValue(name, value, stored) != ERROR_SUCCESS || (stored.type != REG_SZ && stored.type != REG_EXPAND_SZ))
        return {};
    return stored.text;
}

/// Paths and the values written compare as Windows compares file names.
bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

enum class Owner { Nobody, ThisFile, Another };

/// Whose the class is: nobody's only when it has no LocalServer32 and no
/// in-process server value at all; this file's when that value is the very
/// string registration writes; another server's otherwise, whatever the value
/// holds (a longer path, another type, something unreadable).
Owner ownerOf(REFCLSID clsid, const std::wstring& modulePath) {
    const std::wstring name = classKeyName(clsid);
    if (!openKey(name)) return Owner::Nobody;
    if (openKey(name + L"\\LocalServer32")) return Owner::Another;
    StoredValue server;
    const LSTATUS status = readValue(name + L"\\InprocServer32", nullptr, server);
    if (status == ERROR_FILE_NOT_FOUND) return Owner::Nobody;
    return status == ERROR_SUCCESS && server.type == REG_SZ && sameText(server.text, modulePath) ? Owner::ThisFile
                                                                                                 : Owner::Another;
}

/// HKCR\`name`, created when absent, opened for reading and writing.
LSTATUS createKey(const std::wstring& name, OwnedKey& key) {
    HKEY raw = nullptr;
    const LSTATUS status =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &raw, nullptr);
    key.reset(status == ERROR_SUCCESS ? raw : nullptr);
    return status;
}

LSTATUS setString(HKEY key, const wchar_t* valueName, const std::wstring& data) {
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

/// The values this file writes: the class's name (only where the class has
/// none), and its InprocServer32 file and threading model.
LSTATUS writeClass(const ServerClass& entry, const std::wstring& modulePath) {
    const std::wstring name = classKeyName(*entry.clsid);
    OwnedKey key;
    LSTATUS status = createKey(name, key);
    if (status == ERROR_SUCCESS &&
        RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        status = setString(key.get(), nullptr, entry.description);
    OwnedKey server;
    if (status == ERROR_SUCCESS) status = createKey(name + L"\\InprocServer32", server);
    if (status == ERROR_SUCCESS) status = setString(server.get(), nullptr, modulePath);
    if (status == ERROR_SUCCESS) status = setString(server.get(), L"ThreadingModel", L"Both");
    return status;
}

/// Deletes the value `valueName` of HKCR\`name` while it holds `written`.
LSTATUS removeValue(const std::wstring& name, const wchar_t* valueName, const std::wstring& written) {
    if (!sameText(stringValue(name, valueName), written)) return ERROR_SUCCESS;
    HKEY raw = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_SET_VALUE, &raw);
    if (status != ERROR_SUCCESS) return status;
    OwnedKey key(raw);
    status = RegDeleteValueW(key.get(), valueName);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

/// Deletes HKCR\`name` once it holds no value and no subkey.
LSTATUS removeKeyIfEmpty(const std::wstring& name) {
    DWORD subKeys = 0, values = 0;
    {
        OwnedKey key = openKey(name);
        if (!key) return ERROR_SUCCESS;
        const LSTATUS status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                                &values, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) return status;
    }
    if (subKeys != 0 || values != 0) return ERROR_SUCCESS;
    const LSTATUS status = RegDeleteKeyW(HKEY_CLASSES_ROOT, name.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

/// Removes what writeClass wrote and still holds what it wrote, then the keys
/// left empty; values and keys that other tools added stay. The first failure.
LSTATUS removeClass(const ServerClass& entry, const std::wstring& modulePath) {
    const std::wstring name = classKeyName(*entry.clsid);
    const std::wstring server = name + L"\\InprocServer32";
    const LSTATUS results[] = {
        removeValue(server, nullptr, modulePath),
        removeValue(server, L"ThreadingModel", L"Both"),
        removeKeyIfEmpty(server),
        removeValue(name, nullptr, entry.description),
        removeKeyIfEmpty(name),
    };
    for (LSTATUS status : results)
        if (status != ERROR_SUCCESS) return status;
    return ERROR_SUCCESS;
}

std::wstring serverOf(REFCLSID clsid) {
    const std::wstring name = classKeyName(clsid);
    const std::wstring local = stringValue(name + L"\\LocalServer32");
    return openKey(name + L"\\LocalServer32") ? L"LocalServer32 " + local : stringValue(name + L"\\InprocServer32");
}

void complain(REFCLSID clsid) {
    const std::wstring message = L"AxisSimulator: " + classKeyName(clsid) + L" is registered to another server (" +
                                 serverOf(clsid) + L"); it is not taken over and nothing was registered\n";
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
                if (created[j]) removeClass(Classes[j], modulePath);
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
            const LSTATUS status = removeClass(entry, modulePath);
            if (status != ERROR_SUCCESS && SUCCEEDED(result)) result = HRESULT_FROM_WIN32(status);
        }
        return result;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace AxisSim
