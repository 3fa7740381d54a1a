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
/// volume and file index, in hexadecimal.
std::wstring fileIdentity(const BY_HANDLE_FILE_INFORMATION& info) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%08lX.%08lX%08lX", info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
    return text;
}

/// The identity of the file `path` names; empty when unknown.
std::wstring fileIdentity(const std::wstring& path) {
    OwnedHandle file = openFile(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION info{};
    return file && GetFileInformationByHandle(file.get(), &info) ? fileIdentity(info) : std::wstring();
}

constexpr DWORD LogAccess = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
constexpr DWORD LogSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// The log `path` itself, never a file that a link there leads to: a file made
/// now (`created`), else the one that is there. Null when neither opens.
OwnedHandle openLog(const std::wstring& path, bool& created) {
    // CREATE_NEW fails on anything at the path, a link included.
    HANDLE file = CreateFileW(path.c_str(), LogAccess, LogSharing, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    created = file != INVALID_HANDLE_VALUE;
    if (!created && GetLastError() == ERROR_FILE_EXISTS)
        file = CreateFileW(path.c_str(), LogAccess, LogSharing, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    return OwnedHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

/// True when this process started the log `name` before (a local atom, kept
/// until the process ends, so it survives the DLL being unloaded and loaded
/// again); records that it has now.
bool startedBefore(const std::wstring& name) {
    if (FindAtomW(name.c_str()) != 0) return true;
    AddAtomW(name.c_str());
    return false;
}

/// Releases a named mutex on destruction when it was acquired.
class MutexHold {
public:
    /// Waits `milliseconds` at most. An owner that died mid-write leaves the
    /// mutex abandoned, which gives it to the next.
    MutexHold(HANDLE mutex, DWORD milliseconds) : mutex_(mutex) {
        if (mutex_ != nullptr && WaitForSingleObject(mutex_, milliseconds) == WAIT_TIMEOUT) {
            mutex_ = nullptr;
            timedOut_ = true;
        }
    }
    /// Takes over ownership already acquired (CreateMutex's initial owner); none when null.
    MutexHold(HANDLE mutex, std::adopt_lock_t) : mutex_(mutex) {}
    ~MutexHold() {
        if (mutex_ != nullptr) ReleaseMutex(mutex_);
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;
    /// True when the wait ended without the mutex.
    bool timedOut() const noexcept { return timedOut_; }

private:
    HANDLE mutex_;
    bool timedOut_ = false;
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
    // A round is taken again when the file opened was replaced meanwhile;
    // after OpenRounds rounds the one opened last is kept unchecked.
    constexpr int OpenRounds = 8;
    bool replaced = false;
    for (int round = 1;; ++round) {
        bool created = false;
        OwnedHandle file = openLog(path_, created);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!file || !GetFileInformationByHandle(file.get(), &info)) {
            tellDebugger("cannot write the log " + narrow(path_) + " (Windows error " + std::to_string(GetLastError()) +
                         "); its entries are dropped");
            return;
        }
        // Through a link, or a second name of another file, the log would
        // write (and replace) a file that somebody else chose.
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1) {
            tellDebugger("the log " + narrow(path_) + " is a link or a file of more than one name; nothing is logged");
            return;
        }
        const std::wstring name = L"AxisSimulator.log." + fileIdentity(info);
        if (!sessionPath_.empty() && fileIdentity(sessionPath_) == fileIdentity(info)) {
            tellDebugger("the log " + narrow(path_) + " is the session file; nothing is logged");
            return;
        }
        // Created owned, so no other process writes before an earlier log is
        // replaced; an existing one means another process is writing to this
        // file now, or replacing it: held, as a write holds it, before the
        // check below.
        OwnedHandle mutex(CreateMutexW(nullptr, TRUE, (L"Local\\" + name).c_str()));
        const bool first = mutex && GetLastError() != ERROR_ALREADY_EXISTS;
        const MutexHold held =
            first ? MutexHold(mutex.get(), std::adopt_lock) : MutexHold(mutex.get(), LockWaitMilliseconds);
        // Another process that opened the same file may have replaced it
        // before this one held its mutex (the first renames it away under the
        // mutex, then lets it go): writing on would go to a deleted file, and
        // replacing it would delete the other's new log. A holder that keeps
        // the mutex costs one wait, not a wait a round: the first write may
        // be an event's.
        if (fileIdentity(path_) != fileIdentity(info) && round < OpenRounds) continue;
        // An earlier process's log is never emptied in place (the name may be
        // somebody else's file): it goes, and this process makes its own.
        if (!first || startedBefore(name) || created || replaced) {
            file_ = std::move(file);
            lock_ = std::move(mutex);
            return;
        }
        // Renamed first, so that its name is free at once even while a reader
        // holds the old file open; when that fails, the next round appends.
        file.reset();
        const std::wstring old = path_ + L".old." + std::to_wstring(GetCurrentProcessId());
        if (MoveFileExW(path_.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) DeleteFileW(old.c_str());
        replaced = true;
    }
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
        const std::string_view stamp(prefix, static_cast<std::size_t>(length > 0 ? length : 0));
        std::lock_guard lock(mutex_);
        std::string line = numbered(stamp, entry);
        if (!opened_) open();
        if (!file_) return;
        // Writes come from event threads too: another process that holds the
        // lock stalls none of them for long. The line is dropped instead (its
        // step stays used, so the gap shows) and counted.
        const MutexHold held(lock_.get(), LockWaitMilliseconds);
        if (held.timedOut()) {
            ++dropped_;
            return;
        }
        if (dropped_ != 0) {
            line += numbered(stamp, "AxisSimulator.Log:dropped(" + std::to_string(dropped_) + ")");
            dropped_ = 0;
        }
        LARGE_INTEGER end{};
        SetFilePointerEx(file_.get(), end, nullptr, FILE_END);
        DWORD written = 0;
        WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    } catch (...) {
    }
}

std::string FileLog::numbered(std::string_view stamp, std::string_view entry) {
    const std::string_view object = entry.substr(0, entry.find('.'));
    auto step = steps_.find(object);
    if (step == steps_.end()) step = steps_.emplace(std::string(object), 0).first;
    std::string line(stamp);
    line += std::to_string(++step->second);
    line += ' ';
    line.append(entry);
    line += '\n';
    return line;
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
