// The installed simulator's log file and session loading.

#include "support/axis/ServerLog.h"

#include <cstdio>

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

void FileLog::write(std::string_view entry) noexcept {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[64];
    const int length = std::snprintf(prefix, sizeof prefix, "%02u:%02u:%02u.%03u thread=%lu ", now.wHour, now.wMinute,
                                     now.wSecond, now.wMilliseconds, static_cast<unsigned long>(GetCurrentThreadId()));
    try {
        std::string line(prefix, static_cast<std::size_t>(length > 0 ? length : 0));
        line.append(entry);
        line += '\n';
        std::lock_guard lock(mutex_);
        if (!opened_) {
            opened_ = true;
            file_.reset(openFile(path_, FILE_APPEND_DATA, CREATE_ALWAYS).release());
        }
        if (!file_) return;
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
