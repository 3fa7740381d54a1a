// The installed simulator's log file and session loading.

#include "simulator/ServerLog.h"

#include <cstdio>
#include <cwchar>

namespace AxisSim {

namespace {

OwnedHandle openFile(const std::wstring& path, DWORD access, DWORD disposition) {
    HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return OwnedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

std::string narrow(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size - 1));
    return result;
}

/// The file's bytes; an error instead when it cannot be read whole or is
/// larger than MaxSessionBytes.
std::variant<std::string, SessionError> readFile(const std::wstring& path) {
    using Result = std::variant<std::string, SessionError>;
    OwnedHandle file = openFile(path, GENERIC_READ, OPEN_EXISTING);
    if (!file)
        return Result(std::in_place_index<1>,
                      SessionError{0, "cannot open (Windows error " + std::to_string(GetLastError()) + ")"});
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return Result(std::in_place_index<1>, SessionError{0, "not readable"});
    if (size.QuadPart > static_cast<LONGLONG>(MaxSessionBytes))
        return Result(std::in_place_index<1>,
                      SessionError{0, "too large: more than " + std::to_string(MaxSessionBytes) + " bytes"});
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size()))
        return Result(std::in_place_index<1>, SessionError{0, "read failed"});
    return Result(std::in_place_index<0>, std::move(bytes));
}

void tellDebugger(const std::string& text) {
    const std::string line = "AxisSimulator: " + text + "\n";
    OutputDebugStringA(line.c_str());
}

/// `kind` is "error" (nothing will be played) or "warning".
void report(CallLog& log, const std::wstring& path, const SessionError& error, const std::string& kind) {
    const std::string text = narrow(path) + ":" + std::to_string(error.line) + ": " + error.reason;
    log.note("AxisSimulator.Session:", kind, " ", text);
    tellDebugger("session " + text + (kind == "error" ? "; nothing will be played" : ""));
}

/// What tells one file from another whatever its path is spelt like: its
/// volume and file index, in hexadecimal; empty when unknown.
std::wstring fileIdentity(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return {};
    wchar_t text[32];
    std::swprintf(text, 32, L"%08lX.%08lX%08lX", info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
    return text;
}

/// Releases a named mutex on destruction when it was acquired.
class MutexHold {
public:
    explicit MutexHold(HANDLE mutex) : mutex_(mutex) {
        // An owner that died mid-write leaves the mutex abandoned, which gives
        // it to the next; one stuck in a write is waited for 2 s, no longer.
        if (mutex_ != nullptr && WaitForSingleObject(mutex_, 2000) == WAIT_TIMEOUT) mutex_ = nullptr;
    }
    /// Takes over ownership already acquired (CreateMutex's initial owner).
    MutexHold(HANDLE mutex, std::adopt_lock_t) : mutex_(mutex) {}
    ~MutexHold() {
        if (mutex_ != nullptr) ReleaseMutex(mutex_);
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

private:
    HANDLE mutex_;
};

}  // namespace

std::wstring environmentValue(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

std::wstring logPathFor(const std::wstring& sessionPath) {
    std::wstring path = environmentValue(L"AXIS_SIMULATOR_LOG");
    if (!path.empty()) return path;
    if (!sessionPath.empty()) return sessionPath + L".log";
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp, length <= MAX_PATH ? length : 0) + L"AxisSimulator.log";
}

void FileLog::open() {
    opened_ = true;
    OwnedHandle file = openFile(path_, GENERIC_WRITE | FILE_READ_ATTRIBUTES, OPEN_ALWAYS);
    if (!file) {
        tellDebugger("cannot write the log " + narrow(path_) + " (Windows error " + std::to_string(GetLastError()) +
                     "); its entries are dropped");
        return;
    }
    const std::wstring id = fileIdentity(file.get());
    if (!sessionPath_.empty() && !id.empty()) {
        OwnedHandle session = openFile(sessionPath_, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
        if (session && fileIdentity(session.get()) == id) {
            tellDebugger("the log " + narrow(path_) + " is the session file; nothing is logged");
            return;
        }
    }
    file_ = std::move(file);
    startOnce(id);
}

void FileLog::startOnce(const std::wstring& id) {
    if (id.empty()) return;  // appends, as it cannot tell who else writes there
    const std::wstring name = L"AxisSimulator.log." + id;
    // Created owned, so no other process writes before the file is emptied;
    // an existing one means another process is writing to this file now.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, (L"Local\\" + name).c_str());
    const bool shared = GetLastError() == ERROR_ALREADY_EXISTS;
    lock_.reset(mutex);
    if (!lock_ || shared) return;
    MutexHold held(lock_.get(), std::adopt_lock);
    // The process's own record that survives the DLL being unloaded and loaded
    // again: a local atom, kept until the process ends.
    if (FindAtomW(name.c_str()) != 0) return;
    AddAtomW(name.c_str());
    LARGE_INTEGER start{};
    if (SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) SetEndOfFile(file_.get());
}

void FileLog::write(std::string_view entry) noexcept {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[96];
    const int length =
        std::snprintf(prefix, sizeof prefix, "%02u:%02u:%02u.%03u pid=%lu thread=%lu step=", now.wHour, now.wMinute,
                      now.wSecond, now.wMilliseconds, static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned long>(GetCurrentThreadId()));
    try {
        std::string line(prefix, static_cast<std::size_t>(length > 0 ? length : 0));
        std::lock_guard lock(mutex_);
        const std::string_view object = entry.substr(0, entry.find('.'));
        auto step = steps_.find(object);
        if (step == steps_.end()) step = steps_.emplace(std::string(object), 0).first;
        line += std::to_string(++step->second);
        line += ' ';
        line.append(entry);
        line += '\n';
        if (!opened_) open();
        if (!file_) return;
        MutexHold held(lock_.get());
        LARGE_INTEGER end{};
        SetFilePointerEx(file_.get(), end, nullptr, FILE_END);
        DWORD written = 0;
        WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    } catch (...) {
    }
}

std::shared_ptr<const Session> loadSession(const std::wstring& sessionPath, CallLog& log) {
    std::variant<std::string, SessionError> text(std::in_place_index<0>, defaultSessionText());
    if (!sessionPath.empty()) text = readFile(sessionPath);
    std::variant<Session, SessionError> parsed =
        text.index() == 0 ? parseSession(std::get<0>(text)) : std::get<1>(std::move(text));
    if (auto* error = std::get_if<SessionError>(&parsed)) {
        report(log, sessionPath, *error, "error");
        return std::make_shared<const Session>();
    }
    auto session = std::make_shared<const Session>(std::move(std::get<Session>(parsed)));
    if (session->textCutAtLine != 0)
        report(log, sessionPath,
               SessionError{session->textCutAtLine,
                            "Error text cut to " + std::to_string(Session::MaxTextBytes) + " bytes"},
               "warning");
    return session;
}

}  // namespace AxisSim
