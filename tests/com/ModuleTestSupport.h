#pragma once
// Helpers of the module and registration tests: where the built Dravlo.dll
// is, a reader of a PE file's export and import tables, a loaded library and
// a scratch directory that clean up after themselves, and registry probes.

#include <windows.h>
#include <oleauto.h>
#include <comdef.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ModuleTest {

_COM_SMARTPTR_TYPEDEF(ITypeLib, __uuidof(ITypeLib));
_COM_SMARTPTR_TYPEDEF(ITypeInfo, __uuidof(ITypeInfo));

/// Full path of the built Dravlo.dll (beside the test program).
std::wstring dravloDllPath();

/// The export and import tables of a PE32+ file, read from disk (not loaded).
/// Throws std::runtime_error on a file it cannot read or make sense of.
class PeFile {
public:
    explicit PeFile(const std::wstring& path);
    /// The names in the export directory, in table order.
    std::vector<std::string> exportNames() const;
    /// The DLL names of the import directory, in table order.
    std::vector<std::string> importedDlls() const;

private:
    const IMAGE_NT_HEADERS64& headers() const;
    /// The file bytes at `rva`, with at least `size` bytes behind them.
    const std::uint8_t* at(DWORD rva, std::size_t size = 1) const;
    std::string stringAt(DWORD rva) const;

    std::vector<std::uint8_t> bytes_;
};

/// One LoadLibraryW, freed on destruction.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {}
    ~LoadedLibrary() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    HMODULE get() const { return module_; }
    /// The exported function `name` as a pointer of type F; null when absent.
    template <class F>
    F entry(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

private:
    HMODULE module_;
};

using EntryPoint = HRESULT(STDAPICALLTYPE*)();

/// A fresh directory under the temporary directory, removed with its content
/// on destruction.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    /// Full path of the directory, without a trailing backslash.
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

/// Folders a user's copy of the library may sit in, named outside the ANSI
/// code page of the test prefix (1252): Cyrillic "Дмитрий", Chinese "用户",
/// and "José Müller" with a space.
inline const wchar_t* const userFolders[] = {L"\u0414\u043C\u0438\u0442\u0440\u0438\u0439", L"\u7528\u6237",
                                             L"Jos\u00E9 M\u00FCller"};

/// Creates `directory` (its parent must exist) and copies the built Dravlo.dll
/// into it as `name`; returns the copy's full path. Throws std::runtime_error
/// when either step fails.
std::wstring copyInto(const std::wstring& directory, const std::wstring& name);

/// Copies the built Dravlo.dll into nested directories of `root` so that its
/// full path is `length` characters long; returns that path.
std::wstring copyToPathOfLength(const std::wstring& root, std::size_t length);

/// Writes the type library embedded in `library` ("TYPELIB" 1) to `target`.
void writeEmbeddedTypeLib(const std::wstring& library, const std::wstring& target);

/// Copies the library `source` to `target` with its type library resource made
/// unfindable (its type renamed).
void copyWithoutTypeLib(const std::wstring& source, const std::wstring& target);

/// "{XXXXXXXX-...}" of `guid`.
std::wstring guidString(REFGUID guid);

/// True when HKEY_CLASSES_ROOT\`subKey` exists in the registry view `view`
/// (0: this program's, KEY_WOW64_32KEY: the 32-bit one).
bool classesKeyExists(const std::wstring& subKey, REGSAM view = 0);

/// HKEY_CLASSES_ROOT\`subKey` of the view `bits` (64 or 32) with everything
/// below it, as `reg export` writes it; empty when there is no such key.
std::string exportedClassesKey(const std::wstring& subKey, int bits);

/// The default value of HKEY_CLASSES_ROOT\`subKey`; empty when absent.
std::wstring classesKeyDefault(const std::wstring& subKey);
/// The string value `name` of HKEY_CLASSES_ROOT\`subKey`; empty when absent.
std::wstring classesKeyValue(const std::wstring& subKey, const wchar_t* name);

/// Runs `commandLine`, waits up to 30 s and returns its exit code (-1 when it did not start).
DWORD runAndWait(std::wstring commandLine);

/// What OutputDebugString is given on any thread of this process while it
/// lives (seen by a vectored exception handler, as a debugger would see it).
/// One at a time.
class DebugOutput {
public:
    DebugOutput();
    ~DebugOutput();
    DebugOutput(const DebugOutput&) = delete;
    DebugOutput& operator=(const DebugOutput&) = delete;
    /// The texts received so far, in order.
    std::vector<std::string> texts() const;

private:
    static LONG CALLBACK seen(EXCEPTION_POINTERS* exception);
    void* handler_;
    std::vector<std::string> texts_;
};

}  // namespace ModuleTest
