#pragma once
// The Java side of Dravlo as the stand-in serves it: the event, command and
// driver classes of applet.utils.dravlo (written here from the Java sources,
// independently of the library's own constants), and listener objects that
// record every event they receive.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/jvm/JvmStandIn.h"

namespace StandIn {

/// JNI names of the Java contract.
namespace Java {
inline constexpr char DialEvent[] = "applet/utils/dravlo/DialEvent";
inline constexpr char KeyEvent[] = "applet/utils/dravlo/KeyEvent";
inline constexpr char KeyCommand[] = "applet/utils/dravlo/KeyCommand";
inline constexpr char JogDialDriver[] = "applet/utils/dravlo/JogDialDriver";
inline constexpr char KeyPadDriver[] = "applet/utils/dravlo/KeyPadDriver";
inline constexpr char IOException[] = "java/io/IOException";
inline constexpr char OnDialEvent[] = "onDialEvent";
inline constexpr char OnDialEventSignature[] = "(Lapplet/utils/dravlo/DialEvent;)V";
inline constexpr char OnKeyEvent[] = "onKeyEvent";
inline constexpr char OnKeyEventSignature[] = "(Lapplet/utils/dravlo/KeyEvent;)V";
}  // namespace Java

struct ContractOptions {
    /// Parts left undefined: a class by name ("applet/utils/dravlo/KeyEvent"), or
    /// one member as class + "." + member ("applet/utils/dravlo/DialEvent.fShuttleState",
    /// "applet/utils/dravlo/DialEvent.<init>").
    std::set<std::string> omit{};
    /// Declare the event and command fields on a superclass (class name + "Base"),
    /// so they are found only as inherited fields.
    bool fieldsInSuperclass = false;
};

/// Defines DialEvent, KeyEvent, KeyCommand (with their int fields and "()V"
/// constructors), JogDialDriver and KeyPadDriver.
void defineDravloContract(JvmStandIn& vm, const ContractOptions& options = {});

/// One callback a RecordingListener received, with the event's fields copied.
struct ReceivedEvent {
    std::string method;          ///< "onDialEvent" or "onKeyEvent"
    std::string className;       ///< class of the event object; empty when it was null
    std::uint64_t receiver = 0;  ///< ObjectView::id of the listener object called
    std::uint64_t event = 0;     ///< ObjectView::id of the event object
    std::thread::id thread;
    std::map<std::string, jint> fields;
    /// The field's value; throws std::out_of_range when the event has no such field.
    jint at(const std::string& field) const { return fields.at(field); }
};

struct ListenerOptions {
    std::string className{};  ///< default: a fresh "test/RecordingListener<n>"
    bool onDialEvent = true;
    bool onKeyEvent = true;
    std::string superName = "java/lang/Object";
};

/// A listener class whose onDialEvent / onKeyEvent record each call.
/// Thread-safe: callbacks may arrive on any thread. The recording outlives
/// this object if the stand-in still calls the class.
class RecordingListener {
public:
    explicit RecordingListener(JvmStandIn& vm, ListenerOptions options = {});

    const std::string& className() const { return className_; }
    /// A new listener object: a local reference in the current frame of `env`'s thread.
    jobject newInstance(JNIEnv* env) const;

    std::vector<ReceivedEvent> events() const;
    std::vector<ReceivedEvent> events(const std::string& method) const;  ///< of one callback only
    std::size_t count() const;
    /// Waits until at least `n` callbacks were recorded; false on timeout.
    bool waitForCount(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    void clear();

    /// From now on every callback, after recording, throws `className` with
    /// `message` back to its caller; an empty class name stops it.
    void throwFromCallbacks(const std::string& className, const std::string& message);
    /// From now on every callback, after recording, runs `action` on its own
    /// thread and environment (as Java code in the listener would); an empty
    /// action stops it.
    void runInCallbacks(std::function<void(JNIEnv*)> action);

private:
    struct Record;
    JvmStandIn* vm_;
    std::string className_;
    std::shared_ptr<Record> record_;
};

}  // namespace StandIn
