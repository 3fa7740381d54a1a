#include "support/jvm/Contract.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace StandIn {

namespace {

struct ContractClass {
    const char* name;
    std::vector<std::string> intFields;
};

void defineContractClass(JvmStandIn& vm, const ContractClass& described, const ContractOptions& options) {
    const std::string name = described.name;
    if (options.omit.count(name) != 0) return;
    auto wanted = [&](const std::string& member) { return options.omit.count(name + "." + member) == 0; };
    std::optional<ClassDef> base;
    if (options.fieldsInSuperclass && !described.intFields.empty()) base = vm.defineClass(name + "Base");
    ClassDef cls = vm.defineClass(name, base ? base->name() : "java/lang/Object");
    ClassDef& holder = base ? *base : cls;
    for (const std::string& field : described.intFields)
        if (wanted(field)) holder.intField(field);
    if (wanted("<init>")) cls.constructor();
}

}  // namespace

void defineDravloContract(JvmStandIn& vm, const ContractOptions& options) {
    const ContractClass classes[] = {
        {Java::DialEvent, {"fDeviceID", "fEventType", "fShuttleState", "fJogDirection"}},
        {Java::KeyEvent, {"fDeviceID", "fEventType", "fButtonNumber"}},
        {Java::KeyCommand, {"fDeviceID", "fType", "fButtonNumber"}},
        {Java::JogDialDriver, {}},
        {Java::KeyPadDriver, {}},
    };
    for (const ContractClass& described : classes) defineContractClass(vm, described, options);
}

// ---------------------------------------------------------------------------
// RecordingListener

struct RecordingListener::Record {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<ReceivedEvent> events;
    std::string throwClass, throwMessage;
    std::function<void(JNIEnv*)> action;
};

RecordingListener::RecordingListener(JvmStandIn& vm, ListenerOptions options)
    : vm_(&vm), className_(options.className), record_(std::make_shared<Record>()) {
    static std::atomic<int> serial{0};
    if (className_.empty()) className_ = "test/RecordingListener" + std::to_string(++serial);
    auto callback = [machine = &vm, record = record_](const char* method) {
        return [machine, record, method](JNIEnv* env, jobject self, const std::vector<jvalue>& args) {
            const ObjectView event = machine->inspect(args[0].l);
            ReceivedEvent received{
                method,         event.className, machine->inspect(self).id, event.id, std::this_thread::get_id(),
                event.intFields};
            std::string throwClass, throwMessage;
            std::function<void(JNIEnv*)> action;
            {
                std::lock_guard lock(record->mutex);
                record->events.push_back(std::move(received));
                throwClass = record->throwClass;
                throwMessage = record->throwMessage;
                action = record->action;
            }
            record->changed.notify_all();
            if (action) action(env);
            if (!throwClass.empty()) machine->throwJava(env, throwClass, throwMessage);
        };
    };
    ClassDef cls = vm.defineClass(className_, options.superName);
    cls.constructor();
    if (options.onDialEvent) cls.method(Java::OnDialEvent, Java::OnDialEventSignature, callback(Java::OnDialEvent));
    if (options.onKeyEvent) cls.method(Java::OnKeyEvent, Java::OnKeyEventSignature, callback(Java::OnKeyEvent));
}

jobject RecordingListener::newInstance(JNIEnv* env) const { return vm_->newInstance(env, className_); }

std::vector<ReceivedEvent> RecordingListener::events() const {
    std::lock_guard lock(record_->mutex);
    return record_->events;
}

std::vector<ReceivedEvent> RecordingListener::events(const std::string& method) const {
    std::vector<ReceivedEvent> selected;
    for (ReceivedEvent& event : events())
        if (event.method == method) selected.push_back(std::move(event));
    return selected;
}

std::size_t RecordingListener::count() const {
    std::lock_guard lock(record_->mutex);
    return record_->events.size();
}

bool RecordingListener::waitForCount(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(record_->mutex);
    return record_->changed.wait_for(lock, timeout, [&] { return record_->events.size() >= n; });
}

void RecordingListener::clear() {
    std::lock_guard lock(record_->mutex);
    record_->events.clear();
}

void RecordingListener::throwFromCallbacks(const std::string& className, const std::string& message) {
    std::lock_guard lock(record_->mutex);
    record_->throwClass = className;
    record_->throwMessage = message;
}

void RecordingListener::runInCallbacks(std::function<void(JNIEnv*)> action) {
    std::lock_guard lock(record_->mutex);
    record_->action = std::move(action);
}

}  // namespace StandIn
