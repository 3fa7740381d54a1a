#include "com/Registration.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "com/DravloModule.h"
#include "com/SinkSupport.h"
#include "com/UniqueResource.h"

namespace Dravlo {

namespace {

/// Sets the calling thread's locale to LOCALE_SYSTEM_DEFAULT for its lifetime
/// and puts the saved one back on destruction.
class SystemLocaleScope {
public:
    SystemLocaleScope() noexcept : saved_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~SystemLocaleScope() { SetThreadLocale(saved_); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

private:
    LCID saved_;
};

/// Where the extension of `name` starts (its last dot after its last
/// backslash), or its terminator when it has none.
wchar_t* extensionOf(wchar_t* name) noexcept {
    wchar_t* extension = nullptr;
    wchar_t* p = name;
    for (; *p != L'\0'; ++p) {
        if (*p == L'\\') {
            extension = nullptr;
        } else if (*p == L'.') {
            extension = p;
        }
    }
    return extension != nullptr ? extension : p;
}

HRESULT loadModuleTypeLib(HINSTANCE module, ComRef<ITypeLib>& library, UniqueBstr& path) noexcept {
    wchar_t fileName[MAX_PATH];
    HRESULT hr = moduleFileName(module, fileName);
    if (FAILED(hr)) return hr;
    BSTR loadedPath = nullptr;
    hr = loadTypeLibNear(fileName, library.put(), &loadedPath);
    path.reset(loadedPath);
    return hr;
}

/// A registry key as it is: its values and, recursively, its subkeys, each in
/// the order the registry enumerates them.
struct KeyTree {
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    // Named by a struct of its own: a pair of an incomplete type is not a
    // complete type, and Clang's vector rejects it.
    struct SubKey;
    std::vector<Value> values;
    std::vector<SubKey> subKeys;
};
struct KeyTree::SubKey {
    std::wstring name;
    // cppcheck-suppress unusedStructMember ; read through structured bindings, which cppcheck does not follow
    KeyTree tree;
};

/// Longest key and value names the registry allows, and a terminator.
constexpr DWORD MaxKeyName = 256;
constexpr DWORD MaxValueName = 16384;

HRESULT fromStatus(LSTATUS status) noexcept { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

LSTATUS setRegistryValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
    return RegSetValueExW(key, name, 0, type, data, size);
}

/// Reads the values of `key` and the names of its subkeys (each with an empty
/// tree) into `tree`. Throws std::bad_alloc.
LSTATUS readLevel(HKEY key, KeyTree& tree) {
    std::wstring name(MaxValueName, L'\0');
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = MaxValueName, type = 0, size = 0;
        LSTATUS status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, nullptr, &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return status;
        KeyTree::Value value{name.substr(0, nameLength), type, std::vector<BYTE>(size)};
        status = RegQueryValueExW(key, value.name.c_str(), nullptr, nullptr, value.data.data(), &size);
        if (status != ERROR_SUCCESS) return status;
        value.data.resize(size);
        tree.values.push_back(std::move(value));
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = MaxKeyName;
        LSTATUS status = RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return status;
        tree.subKeys.push_back({name.substr(0, nameLength), KeyTree{}});
    }
    return ERROR_SUCCESS;
}

/// Opens the key `name` of `parent` itself, never one it links to: a link is
/// refused (LinkedKeyResult's status), whether it loops back, leads out of the
/// tree or nowhere.
LSTATUS openUnlinked(HKEY parent, const wchar_t* name, REGSAM access, UniqueRegKey& key) {
    HKEY raw = nullptr;
    const LSTATUS status = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, &raw);
    key.reset(status == ERROR_SUCCESS ? raw : nullptr);
    if (status != ERROR_SUCCESS) return status;
    // A link is a key whose only purpose is this value.
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.get(), L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
        type == REG_LINK)
        return HRESULT_CODE(LinkedKeyResult);
    return ERROR_SUCCESS;
}

/// Reads `key` with everything below it, at most `depth` levels down, into
/// `tree`; a link or a deeper key anywhere fails it. Throws std::bad_alloc.
LSTATUS readTree(HKEY key, KeyTree& tree, int depth) {
    LSTATUS status = readLevel(key, tree);
    if (status == ERROR_SUCCESS && !tree.subKeys.empty() && depth == 0) status = HRESULT_CODE(DeepKeyResult);
    for (auto it = tree.subKeys.begin(); status == ERROR_SUCCESS && it != tree.subKeys.end(); ++it) {
        UniqueRegKey sub;
        if ((status = openUnlinked(key, it->name.c_str(), KEY_READ, sub)) == ERROR_SUCCESS)
            status = readTree(sub.get(), it->tree, depth - 1);
    }
    return status;
}

/// Opens `name` of `parent` and every key of `tree` below it for all that
/// writing it back may take: values set and deleted, subkeys made and deleted.
LSTATUS openForRestore(HKEY parent, const wchar_t* name, REGSAM view, const KeyTree& tree) {
    UniqueRegKey key;
    LSTATUS status = openUnlinked(parent, name, KEY_READ | KEY_WRITE | DELETE | view, key);
    for (auto it = tree.subKeys.begin(); status == ERROR_SUCCESS && it != tree.subKeys.end(); ++it)
        status = openForRestore(key.get(), it->name.c_str(), 0, it->tree);
    return status;
}

/// Makes `key` hold exactly `tree`: values and subkeys that are not in it go,
/// those that differ are written back (values through `writeValue`), the rest
/// is left untouched. Each level is read once, as it is written. Throws
/// std::bad_alloc.
LSTATUS writeTree(HKEY key, const KeyTree& tree, ValueWriter writeValue) {
    KeyTree now;
    LSTATUS status = readLevel(key, now);
    if (status != ERROR_SUCCESS) return status;
    for (const KeyTree::Value& value : now.values) {
        bool kept = false;
        for (const KeyTree::Value& wanted : tree.values) kept |= _wcsicmp(wanted.name.c_str(), value.name.c_str()) == 0;
        if (!kept && (status = RegDeleteValueW(key, value.name.c_str())) != ERROR_SUCCESS) return status;
    }
    for (const KeyTree::Value& wanted : tree.values) {
        bool same = false;
        for (const KeyTree::Value& value : now.values)
            same |= _wcsicmp(wanted.name.c_str(), value.name.c_str()) == 0 && value.type == wanted.type &&
                    value.data == wanted.data;
        if (!same && (status = writeValue(key, wanted.name.c_str(), wanted.type, wanted.data.data(),
                                          static_cast<DWORD>(wanted.data.size()))) != ERROR_SUCCESS)
            return status;
    }
    for (const auto& [name, sub] : now.subKeys) {
        bool kept = false;
        for (const auto& wanted : tree.subKeys) kept |= _wcsicmp(wanted.name.c_str(), name.c_str()) == 0;
        if (!kept && (status = RegDeleteTreeW(key, name.c_str())) != ERROR_SUCCESS) return status;
    }
    for (const auto& [name, sub] : tree.subKeys) {
        HKEY raw = nullptr;
        status = RegCreateKeyExW(key, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &raw, nullptr);
        if (status != ERROR_SUCCESS) return status;
        UniqueRegKey opened(raw);
        if ((status = writeTree(opened.get(), sub, writeValue)) != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

/// "{XXXXXXXX-...}" of `guid`.
std::wstring guidText(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

/// The Interface keys of other components that RegisterTypeLib and
/// UnRegisterTypeLib would change: the library describes the Axis driver's
/// event interfaces, and both calls write or delete an Interface\{IID} key for
/// each of them, in both registry views, whoever owns it. An Interface key
/// that names another type library (or none) is another component's; saved
/// before the call and written back after it, it ends exactly as it was. Keys
/// naming this library are its own and left to the calls.
class ForeignInterfaceKeys {
public:
    /// Keys are written back with `writeValue` setting their values.
    explicit ForeignInterfaceKeys(ValueWriter writeValue) noexcept : writeValue_(writeValue) {}
    /// Saves the foreign keys of the interfaces `library` describes.
    HRESULT save(ITypeLib* library) noexcept;
    /// Whether every saved key can be written back and what lies below it
    /// deleted; the first key that cannot, before anything has changed.
    HRESULT checkRestorable() const noexcept;
    /// Writes every saved key back as it was saved; the first failure.
    HRESULT restore() noexcept;

private:
    struct Saved {
        REGSAM view;
        std::wstring name;
        KeyTree tree;
    };
    HRESULT saveIfForeign(REGSAM view, const std::wstring& name, const std::wstring& libraryId);
    ValueWriter writeValue_;
    std::vector<Saved> saved_;
};

HRESULT ForeignInterfaceKeys::save(ITypeLib* library) noexcept {
    try {
        TLIBATTR* attributes = nullptr;
        HRESULT hr = library->GetLibAttr(&attributes);
        if (FAILED(hr)) return hr;
        const std::wstring libraryId = guidText(attributes->guid);
        library->ReleaseTLibAttr(attributes);
        for (UINT i = 0, count = library->GetTypeInfoCount(); i < count && SUCCEEDED(hr); ++i) {
            ComRef<ITypeInfo> info;
            TYPEATTR* type = nullptr;
            if (FAILED(hr = library->GetTypeInfo(i, info.put())) || FAILED(hr = info->GetTypeAttr(&type))) break;
            const bool isInterface = type->typekind == TKIND_DISPATCH || type->typekind == TKIND_INTERFACE;
            const std::wstring name = L"Interface\\" + guidText(type->guid);
            info->ReleaseTypeAttr(type);
            if (!isInterface) continue;
            for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
                if (FAILED(hr = saveIfForeign(view, name, libraryId))) break;
            }
        }
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ForeignInterfaceKeys::saveIfForeign(REGSAM view, const std::wstring& name, const std::wstring& libraryId) {
    UniqueRegKey key;
    LSTATUS status = openUnlinked(HKEY_CLASSES_ROOT, name.c_str(), KEY_READ | view, key);
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    if (status != ERROR_SUCCESS) return fromStatus(status);
    UniqueRegKey typeLib;
    status = openUnlinked(key.get(), L"TypeLib", KEY_READ, typeLib);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return fromStatus(status);
    wchar_t named[40] = {};
    DWORD size = sizeof(named) - sizeof(wchar_t);
    if (status == ERROR_SUCCESS &&
        RegGetValueW(typeLib.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, named, &size) == ERROR_SUCCESS &&
        _wcsicmp(named, libraryId.c_str()) == 0)
        return S_OK;  // ours
    Saved saved{view, name, {}};
    if ((status = readTree(key.get(), saved.tree, MaxSavedDepth)) != ERROR_SUCCESS) return fromStatus(status);
    saved_.push_back(std::move(saved));
    return S_OK;
}

HRESULT ForeignInterfaceKeys::checkRestorable() const noexcept {
    for (const Saved& saved : saved_) {
        const LSTATUS status = openForRestore(HKEY_CLASSES_ROOT, saved.name.c_str(), saved.view, saved.tree);
        if (status != ERROR_SUCCESS) return fromStatus(status);
    }
    return S_OK;
}

HRESULT ForeignInterfaceKeys::restore() noexcept {
    HRESULT result = S_OK;
    try {
        for (const Saved& saved : saved_) {
            HKEY raw = nullptr;
            LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, saved.name.c_str(), 0, nullptr, 0,
                                             KEY_READ | KEY_WRITE | saved.view, nullptr, &raw, nullptr);
            if (status == ERROR_SUCCESS) {
                UniqueRegKey key(raw);
                status = writeTree(key.get(), saved.tree, writeValue_);
            }
            if (status != ERROR_SUCCESS && SUCCEEDED(result)) result = fromStatus(status);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return result;
}

}  // namespace

HRESULT loadTypeLibNear(const wchar_t* fileName, ITypeLib** library, BSTR* path) noexcept {
    *library = nullptr;
    *path = nullptr;
    // A name of up to MAX_PATH - 1 characters with ".tlb" appended still fits.
    wchar_t name[MAX_PATH + 4];
    const wchar_t* end = std::find(fileName, fileName + MAX_PATH, L'\0');
    if (end == fileName + MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    std::wmemcpy(name, fileName, end - fileName + 1);

    ComRef<ITypeLib> loaded;
    HRESULT hr = LoadTypeLib(name, loaded.put());
    if (FAILED(hr)) {
        std::wmemcpy(extensionOf(name), L".tlb", 5);
        hr = LoadTypeLib(name, loaded.put());
        if (FAILED(hr)) return hr;
    }
    if (!loaded) return E_UNEXPECTED;
    BSTR kept = SysAllocString(name);
    if (kept == nullptr) return E_OUTOFMEMORY;
    *library = loaded.detach();
    *path = kept;
    return S_OK;
}

std::size_t helpDirectoryLength(const wchar_t* helpFile) noexcept {
    std::size_t length = 0;
    for (std::size_t i = 0; i < MAX_PATH && helpFile[i] != L'\0'; ++i) {
        wchar_t c = helpFile[i];
        if (c == L'\\' || c == L'/' || c == L':') length = i + 1;
    }
    return length;
}

HRESULT registerServer(HINSTANCE module) noexcept { return registerServer(module, setRegistryValue); }

HRESULT registerServer(HINSTANCE module, ValueWriter writeValue) noexcept {
    SystemLocaleScope locale;
    // The class table holds no class, so there is nothing to register but the
    // type library.
    ComRef<ITypeLib> library;
    UniqueBstr path;
    HRESULT hr = loadModuleTypeLib(module, library, path);
    if (FAILED(hr)) return hr;

    BSTR rawHelpFile = nullptr;
    hr = library->GetDocumentation(-1, nullptr, nullptr, nullptr, &rawHelpFile);
    UniqueBstr helpFile(rawHelpFile);
    wchar_t directory[MAX_PATH + 1];
    const wchar_t* helpDirectory = nullptr;  // no help file: none
    if (SUCCEEDED(hr) && helpFile) {
        std::size_t length = helpDirectoryLength(helpFile.get());
        std::wmemcpy(directory, helpFile.get(), length);
        directory[length] = L'\0';
        helpDirectory = directory;
    }
    ForeignInterfaceKeys foreign(writeValue);
    if (FAILED(hr = foreign.save(library.get())) || FAILED(hr = foreign.checkRestorable())) return hr;
    // MinGW declares both names non-const; RegisterTypeLib only reads them.
    hr = RegisterTypeLib(library.get(), path.get(),
                         const_cast<wchar_t*>(helpDirectory));  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    const HRESULT restored = foreign.restore();
    return FAILED(hr) ? hr : restored;
}

HRESULT unregisterServer(HINSTANCE module) noexcept {
    SystemLocaleScope locale;
    ComRef<ITypeLib> library;
    UniqueBstr path;
    HRESULT hr = loadModuleTypeLib(module, library, path);
    if (FAILED(hr)) return hr;

    ForeignInterfaceKeys foreign(setRegistryValue);
    if (FAILED(hr = foreign.save(library.get())) || FAILED(hr = foreign.checkRestorable())) return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) return hr;
    hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                           attributes->syskind);
    library->ReleaseTLibAttr(attributes);
    const HRESULT restored = foreign.restore();
    if (FAILED(hr)) return hr;
    return FAILED(restored) ? restored : S_OK;
}

}  // namespace Dravlo
