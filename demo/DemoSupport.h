#pragma once
// The demo's plumbing: Dravlo.dll loaded and its ten Java natives resolved
// the way a JVM finds them (GetProcAddress by their JNI names), Java threads
// of the JVM stand-in that run the calls belonging to them, and the check
// that ends the demo with a "FAILED: ..." line.

#include <windows.h>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "applet_utils_dravlo_JogDialDriver.h"
#include "applet_utils_dravlo_KeyPadDriver.h"
#include "support/jvm/JvmStandIn.h"

namespace Demo {

/// Something did not happen as the demo expected; main prints "FAILED: " + what().
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Throws Failure(`what`) unless `condition` holds.
void check(bool condition, const std::string& what);

/// printf-style line on stdout, indented by `indent` spaces.
void say(int indent, const char* format, ...);

/// Owns one LoadLibrary reference; FreeLibrary at scope end.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const wchar_t* name)
        : module_(LoadLibraryW(name)), error_(module_ == nullptr ? GetLastError() : 0) {}
    ~LoadedLibrary() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    explicit operator bool() const noexcept { return module_ != nullptr; }
    /// The Windows error of a failed load; 0 after a successful one.
    DWORD error() const noexcept { return error_; }
    /// The export `name`, or null.
    FARPROC entry(const char* name) const noexcept { return GetProcAddress(module_, name); }

private:
    HMODULE module_;
    DWORD error_;
};

/// The ten natives of JogDialDriver and KeyPadDriver, typed by the prototypes
/// javac generated from the Java classes. Borrowed from the library, which
/// must stay loaded while they are used.
struct Natives {
    /// Resolves every native; throws Failure naming those the library does not export.
    explicit Natives(const LoadedLibrary& library);

    struct JogDial {
        decltype(&Java_applet_utils_dravlo_JogDialDriver_initializeImpl) initializeImpl;
        decltype(&Java_applet_utils_dravlo_JogDialDriver_uninitializeImpl) uninitializeImpl;
        decltype(&Java_applet_utils_dravlo_JogDialDriver_getNumberOfDevicesImpl) getNumberOfDevicesImpl;
        decltype(&Java_applet_utils_dravlo_JogDialDriver_registerDialListenerImpl) registerDialListenerImpl;
        decltype(&Java_applet_utils_dravlo_JogDialDriver_registerKeyListenerImpl) registerKeyListenerImpl;
    } jogDial{};
    struct KeyPad {
        decltype(&Java_applet_utils_dravlo_KeyPadDriver_initializeImpl) initializeImpl;
        decltype(&Java_applet_utils_dravlo_KeyPadDriver_uninitializeImpl) uninitializeImpl;
        decltype(&Java_applet_utils_dravlo_KeyPadDriver_getNumberOfDevicesImpl) getNumberOfDevicesImpl;
        decltype(&Java_applet_utils_dravlo_KeyPadDriver_registerKeyListenerImpl) registerKeyListenerImpl;
        decltype(&Java_applet_utils_dravlo_KeyPadDriver_executeCommandImpl) executeCommandImpl;
    } keyPad{};
    static constexpr int count = 10;
};

/// A Java thread of the stand-in, attached for its whole life, that runs the
/// tasks handed to it one at a time. A driver belongs to the thread that
/// initialises it (its COM apartment), so its later calls are run there too.
class JavaThread {
public:
    JavaThread(StandIn::JvmStandIn& vm, std::string name);
    /// Ends the thread's Java life and joins it.
    ~JavaThread();
    JavaThread(const JavaThread&) = delete;
    JavaThread& operator=(const JavaThread&) = delete;

    /// Runs `task` on this thread and waits for it; an exception it throws is rethrown here.
    void run(const std::function<void()>& task);
    std::thread::id id() const noexcept { return id_; }
    const std::string& name() const noexcept { return name_; }

private:
    void loop();

    StandIn::JvmStandIn& vm_;
    std::string name_;
    std::mutex mutex_;
    std::condition_variable wake_;
    const std::function<void()>* task_ = nullptr;  // borrowed from run(), which waits for it
    std::exception_ptr error_;
    bool stopping_ = false;
    std::thread::id id_;
    std::thread thread_;
};

}  // namespace Demo
