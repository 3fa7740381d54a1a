#include "demo/DemoSupport.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace Demo {

void check(bool condition, const std::string& what) {
    if (!condition) throw Failure(what);
}

void say(int indent, const char* format, ...) {
    std::printf("%*s", indent, "");
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
}

namespace {

// One native by its JNI name; a missing one is noted in `missing`.
template <class F>
void resolve(const LoadedLibrary& library, F& slot, const char* name, std::string& missing) {
    FARPROC found = library.entry(name);
    if (found == nullptr) missing += std::string(" ") + name;
    slot = reinterpret_cast<F>(reinterpret_cast<void*>(found));
}

}  // namespace

#define DEMO_RESOLVE(table, cls, name) resolve(library, table.name, "Java_applet_utils_dravlo_" #cls "_" #name, missing)

Natives::Natives(const LoadedLibrary& library) {
    std::string missing;
    DEMO_RESOLVE(jogDial, JogDialDriver, initializeImpl);
    DEMO_RESOLVE(jogDial, JogDialDriver, uninitializeImpl);
    DEMO_RESOLVE(jogDial, JogDialDriver, getNumberOfDevicesImpl);
    DEMO_RESOLVE(jogDial, JogDialDriver, registerDialListenerImpl);
    DEMO_RESOLVE(jogDial, JogDialDriver, registerKeyListenerImpl);
    DEMO_RESOLVE(keyPad, KeyPadDriver, initializeImpl);
    DEMO_RESOLVE(keyPad, KeyPadDriver, uninitializeImpl);
    DEMO_RESOLVE(keyPad, KeyPadDriver, getNumberOfDevicesImpl);
    DEMO_RESOLVE(keyPad, KeyPadDriver, registerKeyListenerImpl);
    DEMO_RESOLVE(keyPad, KeyPadDriver, executeCommandImpl);
    check(missing.empty(), "Dravlo.dll does not export" + missing);
}

#undef DEMO_RESOLVE

JavaThread::JavaThread(StandIn::JvmStandIn& vm, std::string name) : vm_(vm), name_(std::move(name)) {
    thread_ = std::thread([this] { loop(); });
    id_ = thread_.get_id();
}

JavaThread::~JavaThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void JavaThread::run(const std::function<void()>& task) {
    std::unique_lock lock(mutex_);
    task_ = &task;
    error_ = nullptr;
    wake_.notify_all();
    wake_.wait(lock, [this] { return task_ == nullptr; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void JavaThread::loop() {
    vm_.attachJavaThread();
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return task_ != nullptr || stopping_; });
        if (task_ == nullptr) break;  // stopping, nothing left to run
        lock.unlock();
        std::exception_ptr error;
        try {
            (*task_)();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        error_ = error;
        task_ = nullptr;
        wake_.notify_all();
    }
    lock.unlock();
    vm_.detachJavaThread();
}

}  // namespace Demo
