#include "com/Registration.h"

#include <algorithm>
#include <cwchar>
#include <memory>

#include "com/DravloModule.h"
#include "com/SinkSupport.h"

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

struct BstrFree {
    void operator()(BSTR text) const noexcept { SysFreeString(text); }
};
/// Owns one BSTR (null allowed).
using OwnedBstr = std::unique_ptr<OLECHAR, BstrFree>;

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

HRESULT loadModuleTypeLib(HINSTANCE module, ComRef<ITypeLib>& library, OwnedBstr& path) noexcept {
    wchar_t fileName[MAX_PATH];
    HRESULT hr = moduleFileName(module, fileName);
    if (FAILED(hr)) return hr;
    BSTR loadedPath = nullptr;
    hr = loadTypeLibNear(fileName, library.put(), &loadedPath);
    path.reset(loadedPath);
    return hr;
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

HRESULT registerServer(HINSTANCE module) noexcept {
    SystemLocaleScope locale;
    // The class table holds no class, so there is nothing to register but the
    // type library.
    ComRef<ITypeLib> library;
    OwnedBstr path;
    HRESULT hr = loadModuleTypeLib(module, library, path);
    if (FAILED(hr)) return hr;

    BSTR rawHelpFile = nullptr;
    hr = library->GetDocumentation(-1, nullptr, nullptr, nullptr, &rawHelpFile);
    OwnedBstr helpFile(rawHelpFile);
    wchar_t directory[MAX_PATH + 1];
    const wchar_t* helpDirectory = nullptr;  // no help file: none
    if (SUCCEEDED(hr) && helpFile) {
        std::size_t length = helpDirectoryLength(helpFile.get());
        std::wmemcpy(directory, helpFile.get(), length);
        directory[length] = L'\0';
        helpDirectory = directory;
    }
    // MinGW declares both names non-const; RegisterTypeLib only reads them.
    return RegisterTypeLib(library.get(), path.get(), const_cast<wchar_t*>(helpDirectory));
}

HRESULT unregisterServer(HINSTANCE module) noexcept {
    SystemLocaleScope locale;
    ComRef<ITypeLib> library;
    OwnedBstr path;
    HRESULT hr = loadModuleTypeLib(module, library, path);
    if (FAILED(hr)) return hr;

    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) return hr;
    hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                           attributes->syskind);
    library->ReleaseTLibAttr(attributes);
    return SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace Dravlo
