#pragma once
// The installed simulator's log file and the session it plays.
//
// Log path: %AXIS_SIMULATOR_LOG% when set; else, with a session file, that
// file's name with ".log" appended; else %TEMP%\AxisSimulator.log. A path
// that names the session file itself, a link or a file of more than one name
// is refused; a link is never followed. The log starts afresh once per
// process, by its first entry, unless another process is writing to it at
// that moment: an earlier file is deleted and a new one made, never emptied in
// place. Processes sharing it append whole lines; a line that would wait more
// than a few milliseconds for another process's is dropped, and the next line
// written says how many were ("AxisSimulator.Log:dropped(<n>)"). One line per
// entry:
//   HH:MM:SS.mmm pid=<process id> thread=<thread id> step=<n> <entry>
// e.g. "09:15:02.517 pid=41 thread=312 step=7 KeyPadDevice#0.SetBacklight(5,1)",
// where step counts the entries of one object (the entry's part before its
// first '.') from 1, so one device's lines compare across runs.

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "simulator/Session.h"

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
/// thread; lines never interleave, also with other processes writing to the
/// same file (a named mutex of that file serialises them; a write waits for it
/// LockWaitMilliseconds at most, else drops its line). The file is opened at
/// the first write and closed by the destructor. A file that cannot be opened,
/// or that is refused (see above), is reported once to the debugger output and
/// its entries are dropped; nothing else fails.
class FileLog final : public LogWriter {
public:
    /// Logs to `path`; `sessionPath` (empty: none) is the session file, which
    /// it never writes.
    FileLog(std::wstring path, std::wstring sessionPath)
        : path_(std::move(path)), sessionPath_(std::move(sessionPath)) {}
    void write(std::string_view entry) noexcept override;
    const std::wstring& path() const noexcept { return path_; }

    /// How long a write waits for another process to finish its line.
    static constexpr DWORD LockWaitMilliseconds = 5;

private:
    /// Opens the log, and makes `lock_`; on this process's first use of a log
    /// that no other process is writing to, replaces an earlier one.
    void open();  // under mutex_
    /// `entry` as one line, after `stamp`, with its object's next step. Under mutex_.
    std::string numbered(std::string_view stamp, std::string_view entry);

    std::wstring path_;
    std::wstring sessionPath_;
    std::mutex mutex_;
    bool opened_ = false;
    OwnedHandle file_;                                         // null when not opened or refused
    OwnedHandle lock_;                                         // the file's named mutex; null when it could not be made
    std::map<std::string, unsigned long, std::less<>> steps_;  // per object
    unsigned long dropped_ = 0;                                // lines dropped since the last one written
};

/// The session of this process: the file named by AXIS_SIMULATOR_SESSION, or
/// the default one. A file that cannot be read or parsed, or is larger than
/// MaxSessionBytes, is reported once, to the debugger and to `log`
/// ("AxisSimulator.Session:error <file>:<line>: <reason>"), and gives a session
/// of one device per kind and no step. An Error text that had to be cut is
/// reported the same way, once, as "Session:warning".
std::shared_ptr<const Session> loadSession(const std::wstring& sessionPath, CallLog& log);

}  // namespace AxisSim
