#include "tests/com/ModuleTestSupport.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>

namespace ModuleTest {

namespace {

std::runtime_error failure(const std::string& what) {
    return std::runtime_error(what + " (error " + std::to_string(GetLastError()) + ")");
}

/// Owns one file handle.
class File {
public:
    File(const std::wstring& path, DWORD access, DWORD disposition)
        : handle_(CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                              nullptr)) {
        if (handle_ == INVALID_HANDLE_VALUE) throw failure("cannot open file");
    }
    ~File() { CloseHandle(handle_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

void removeTree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = directory + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(directory.c_str());
}

}  // namespace

std::wstring dravloDllPath() {
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"Dravlo.dll";
}

PeFile::PeFile(const std::wstring& path) {
    File file(path, GENERIC_READ, OPEN_EXISTING);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) throw failure("cannot size file");
    bytes_.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes_.data(), static_cast<DWORD>(bytes_.size()), &read, nullptr) ||
        read != bytes_.size()) {
        throw failure("cannot read file");
    }
    headers();  // validates
}

const IMAGE_NT_HEADERS64& PeFile::headers() const {
    if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) throw std::runtime_error("not a PE file");
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
        static_cast<std::size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > bytes_.size()) {
        throw std::runtime_error("not a PE file");
    }
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes_.data() + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        throw std::runtime_error("not a PE32+ file");
    }
    const std::size_t sectionsEnd = static_cast<std::size_t>(dos->e_lfanew) +
                                    offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader +
                                    nt->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER);
    if (sectionsEnd > bytes_.size()) throw std::runtime_error("truncated section table");
    return *nt;
}

const std::uint8_t* PeFile::at(DWORD rva, std::size_t size) const {
    const IMAGE_NT_HEADERS64& nt = headers();
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(&nt);
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i, ++section) {
        DWORD extent =
            section->Misc.VirtualSize > section->SizeOfRawData ? section->Misc.VirtualSize : section->SizeOfRawData;
        if (rva < section->VirtualAddress || rva - section->VirtualAddress >= extent) continue;
        std::size_t offset = section->PointerToRawData + (rva - section->VirtualAddress);
        if (offset + size > bytes_.size()) break;
        return bytes_.data() + offset;
    }
    throw std::runtime_error("RVA " + std::to_string(rva) + " is not in the file");
}

std::string PeFile::stringAt(DWORD rva) const {
    const auto* first = reinterpret_cast<const char*>(at(rva));
    const auto* end = reinterpret_cast<const char*>(bytes_.data() + bytes_.size());
    const char* last = first;
    while (last < end && *last != '\0') ++last;
    if (last == end) throw std::runtime_error("unterminated string");
    return std::string(first, last);
}

std::vector<std::string> PeFile::exportNames() const {
    const IMAGE_DATA_DIRECTORY& entry = headers().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0) return {};
    const auto* directory =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(at(entry.VirtualAddress, sizeof(IMAGE_EXPORT_DIRECTORY)));
    const auto* names =
        reinterpret_cast<const DWORD*>(at(directory->AddressOfNames, directory->NumberOfNames * sizeof(DWORD)));
    std::vector<std::string> result;
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) result.push_back(stringAt(names[i]));
    return result;
}

std::vector<std::string> PeFile::importedDlls() const {
    const IMAGE_DATA_DIRECTORY& entry = headers().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> result;
    if (entry.VirtualAddress == 0) return result;
    for (DWORD rva = entry.VirtualAddress;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* descriptor =
            reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(rva, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (descriptor->Name == 0) break;
        result.push_back(stringAt(descriptor->Name));
    }
    return result;
}

ScratchDirectory::ScratchDirectory() {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) throw failure("no temporary directory");
    path_ = std::wstring(temp, length) + L"DravloModuleTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    removeTree(path_);
    if (!CreateDirectoryW(path_.c_str(), nullptr)) throw failure("cannot create scratch directory");
}

ScratchDirectory::~ScratchDirectory() { removeTree(path_); }

std::wstring copyInto(const std::wstring& directory, const std::wstring& name) {
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        throw failure("cannot create a folder for the copy");
    }
    const std::wstring copy = directory + L"\\" + name;
    if (!CopyFileW(dravloDllPath().c_str(), copy.c_str(), FALSE)) throw failure("cannot copy the library");
    return copy;
}

std::wstring copyToPathOfLength(const std::wstring& root, std::size_t length) {
    const std::wstring name = L"\\DravloLong.dll";
    std::wstring path = root;
    std::size_t remaining = length - root.size() - name.size();
    while (remaining > 0) {
        std::size_t take = remaining > 101 ? 101 : remaining;  // a backslash and a name
        if (remaining - take == 1) --take;
        path += L"\\" + std::wstring(take - 1, L'd');
        CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr);
        remaining -= take;
    }
    path += name;
    CopyFileW(dravloDllPath().c_str(), (L"\\\\?\\" + path).c_str(), FALSE);
    return path;
}

void writeEmbeddedTypeLib(const std::wstring& library, const std::wstring& target) {
    HMODULE data = LoadLibraryExW(library.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (data == nullptr) throw failure("cannot map library");
    HRSRC resource = FindResourceW(data, MAKEINTRESOURCEW(1), L"TYPELIB");
    HGLOBAL loaded = resource != nullptr ? LoadResource(data, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    DWORD size = resource != nullptr ? SizeofResource(data, resource) : 0;
    try {
        if (bytes == nullptr || size == 0) throw failure("no type library resource");
        File file(target, GENERIC_WRITE, CREATE_ALWAYS);
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) throw failure("cannot write");
    } catch (...) {
        FreeLibrary(data);
        throw;
    }
    FreeLibrary(data);
}

void copyWithoutTypeLib(const std::wstring& source, const std::wstring& target) {
    // Renames the resource type in the copy's resource directory, where it is
    // stored as a counted UTF-16 string: "TYPELIB" becomes "TYPELIX", so the
    // type library can no longer be found. (Wine's UpdateResourceW reports
    // success on deleting it but leaves it in place.)
    std::vector<std::uint8_t> bytes;
    {
        File file(source, GENERIC_READ, OPEN_EXISTING);
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file.get(), &size)) throw failure("cannot size library");
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
            read != bytes.size()) {
            throw failure("cannot read library");
        }
    }
    const std::uint8_t pattern[] = {7, 0, 'T', 0, 'Y', 0, 'P', 0, 'E', 0, 'L', 0, 'I', 0, 'B', 0};
    auto found = std::search(bytes.begin(), bytes.end(), std::begin(pattern), std::end(pattern));
    if (found == bytes.end() ||
        std::search(found + 1, bytes.end(), std::begin(pattern), std::end(pattern)) != bytes.end()) {
        throw std::runtime_error("no single TYPELIB resource type in the library");
    }
    *(found + sizeof(pattern) - 2) = 'X';
    File file(target, GENERIC_WRITE, CREATE_ALWAYS);
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        throw failure("cannot write the copy");
    }
}

std::wstring guidString(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

bool classesKeyExists(const std::wstring& subKey, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string exportedClassesKey(const std::wstring& subKey, int bits) {
    ScratchDirectory scratch;
    const std::wstring file = scratch.path() + L"\\key.reg";
    // reg.exe under Wine now and then fails to start or to export when the
    // machine is loaded; a key that is really absent fails every time.
    const std::wstring command =
        L"reg.exe export \"HKCR\\" + subKey + L"\" \"" + file + L"\" /y /reg:" + std::to_wstring(bits);
    int attempt = 0;
    while (runAndWait(command) != 0)
        if (++attempt == 3) return {};
    File exported(file, GENERIC_READ, OPEN_EXISTING);
    std::string bytes(GetFileSize(exported.get(), nullptr), '\0');
    DWORD read = 0;
    if (!ReadFile(exported.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return {};
    bytes.resize(read);
    return bytes;
}

std::wstring classesKeyDefault(const std::wstring& subKey) { return classesKeyValue(subKey, nullptr); }

std::wstring classesKeyValue(const std::wstring& subKey, const wchar_t* name) {
    wchar_t value[1024];
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CLASSES_ROOT, subKey.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

DWORD runAndWait(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return static_cast<DWORD>(-1);
    }
    WaitForSingleObject(process.hProcess, 30000);
    DWORD exitCode = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

namespace {
std::mutex debugMutex;
std::vector<std::string>* debugTexts = nullptr;  // the living DebugOutput's, under debugMutex
}  // namespace

DebugOutput::DebugOutput() : handler_(AddVectoredExceptionHandler(1, &DebugOutput::seen)) {
    std::lock_guard lock(debugMutex);
    debugTexts = &texts_;
}

DebugOutput::~DebugOutput() {
    RemoveVectoredExceptionHandler(handler_);
    std::lock_guard lock(debugMutex);
    debugTexts = nullptr;
}

std::vector<std::string> DebugOutput::texts() const {
    std::lock_guard lock(debugMutex);
    return texts_;
}

LONG CALLBACK DebugOutput::seen(EXCEPTION_POINTERS* exception) {
    // OutputDebugStringA raises this with its text's length and address.
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    std::lock_guard lock(debugMutex);
    if (record.ExceptionCode == DBG_PRINTEXCEPTION_C && record.NumberParameters >= 2 && debugTexts != nullptr)
        debugTexts->emplace_back(reinterpret_cast<const char*>(record.ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace ModuleTest
