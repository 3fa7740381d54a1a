#pragma once
// The installed simulator's log file and the session it plays.
//
// Log path: %AXIS_SIMULATOR_LOG% when set; else, with a session file, that
// file's name with ".log" appended; else %TEMP%\AxisSimulator.log. The file is
// created afresh by the first entry of a process. One line per entry:
//   HH:MM:SS.mmm thread=<Windows thread id, decimal> <entry>
// e.g. "09:15:02.517 thread=312 KeyPadDevice#0.SetBacklight(5,1)".

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "support/axis/Session.h"

namespace AxisSim {

/// The value of the environment variable `name`; empty when unset.
std::wstring environmentValue(const wchar_t* name);

/// The largest session file read.
inline constexpr unsigned long MaxSessionBytes = 1ul << 20;

/// The log path for a session file (empty: the default session); see above.
std::wstring logPathFor(const std::wstring& sessionPath);

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
/// Owns one kernel handle (never INVALID_HANDLE_VALUE).
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

/// Appends timestamped lines to one file. Thread rule: write() from any
/// thread; lines never interleave. The file is opened at the first write and
/// closed by the destructor; a file that cannot be opened drops the entries.
class FileLog final : public LogWriter {
public:
    explicit FileLog(std::wstring path) : path_(std::move(path)) {}
    void write(std::string_view entry) noexcept override;
    const std::wstring& path() const noexcept { return path_; }

private:
    std::wstring path_;
    std::mutex mutex_;
    bool opened_ = false;
    OwnedHandle file_;  // null when not opened or not openable
};

/// The session of this process: the file named by AXIS_SIMULATOR_SESSION, or
/// the default one. A file that cannot be read or parsed, or is larger than
/// MaxSessionBytes, is reported once, to the debugger and to `log`
/// ("AxisSimulator.Session:error <file>:<line>: <reason>"), and gives a session
/// of one device per kind and no step. An Error text that had to be cut is
/// reported the same way, once, as "Session:warning".
std::shared_ptr<const Session> loadSession(const std::wstring& sessionPath, CallLog& log);

}  // namespace AxisSim
