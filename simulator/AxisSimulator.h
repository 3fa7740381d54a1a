#pragma once
// A simulated Axis device driver for tests and the demo: jog dial and keypad
// collections of devices, each device an event source with one connection
// point. It records every call in an ordered log, counts references per
// object and live objects, injects faults on request and fires events the way
// a COM source does (arguments reversed, IDispatch::Invoke on every sink).
//
// Ownership: a driver object (collection) makes its devices when it is created
// and holds one reference to each; GetItem hands out an AddRef'd pointer. A
// device holds its connection point and the advised sinks; the sinks are
// released by Unadvise or when the device dies.
// Probes (ObjectProbe, DeviceProbe) are shared, thread-safe views that outlive
// the COM objects they describe, so counts can be checked after destruction.
// Nothing here is linked into Dravlo.dll.

#include "com/AxisDriver.h"
#include "com/ComRef.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace AxisSim {

_COM_SMARTPTR_TYPEDEF(IDispatch, __uuidof(IDispatch));

enum class Kind { JogDial, KeyPad };

/// DISPIDs of the event dispinterfaces (the keypad has no 3 and 4).
namespace Dispid {
inline constexpr DISPID ButtonDown = 1;
inline constexpr DISPID ButtonUp = 2;
inline constexpr DISPID ShuttleMove = 3;
inline constexpr DISPID JogMove = 4;
inline constexpr DISPID Error = 5;
}  // namespace Dispid

class DeviceProbe;

/// Sizes and faults of one kind of driver object. deviceCount is read when a
/// driver object is created; everything else when the call concerned happens.
/// Change it only while no other thread calls into the simulator.
struct KindConfig {
    bool registered = true;                     ///< false: CoCreateInstance answers REGDB_E_CLASSNOTREG
    HRESULT runResult = S_OK;                   ///< answer of IRunnableObject::Run, hence of OleRun
    bool collectionInterface = true;            ///< false: QueryInterface for the collection IID fails
    int deviceCount = 1;                        ///< devices made with each driver object
    HRESULT getCountResult = S_OK;              ///< a failure leaves *count unwritten
    bool getItemNull = false;                   ///< GetItem writes null for every index
    HRESULT getItemNullResult = S_OK;           ///< what GetItem answers when it writes null by request
    bool connectionPointContainer = true;       ///< false: devices refuse IConnectionPointContainer
    HRESULT adviseResult = S_OK;                ///< a failure: Advise writes adviseFailureCookie and holds nothing
    int adviseFailures = -1;                    ///< how many Advise calls fail with adviseResult (-1: all)
    DWORD adviseFailureCookie = 0;              ///< what a failing Advise writes into the cookie
    HRESULT unadviseResult = S_OK;              ///< a failure: Unadvise keeps the sink
    unsigned setBacklightMs = 0;                ///< how long SetBacklight takes before it is logged
    std::function<void(DeviceProbe&)> onStart;  ///< called by a device's Start, on its caller's thread
    /// Called by a keypad's SetBacklight once it is logged, on its caller's thread.
    std::function<void(DeviceProbe&)> onSetBacklight;
};

/// Where an installed simulator sends its log entries instead of memory.
class LogWriter {
public:
    virtual ~LogWriter() = default;
    /// Called on the thread that made the call the entry describes.
    virtual void write(std::string_view entry) noexcept = 0;
};

/// Ordered, thread-safe record of the calls the simulated objects received,
/// e.g. "JogDialCollection.GetItem(0)", "KeyPadDevice#0.SetBacklight(5,1)",
/// "JogDialDevice#0.Advise(1)", "JogDialDevice#0.Release->0".
class CallLog {
public:
    /// Records `entry`; an entry that cannot be stored is dropped.
    void add(std::string entry) noexcept;
    /// Records the pieces (strings and integers) as one entry; never throws.
    template <class... Pieces>
    void note(const Pieces&... pieces) noexcept {
        try {
            std::string entry;
            (append(entry, pieces), ...);
            add(std::move(entry));
        } catch (...) {
        }
    }
    /// From now on entries go to `writer` (shared) and are no longer kept in
    /// memory. Set it before any other thread uses the log.
    void writeTo(std::shared_ptr<LogWriter> writer) { writer_ = std::move(writer); }
    std::vector<std::string> entries() const;
    /// Number of entries equal to `entry`.
    std::size_t count(std::string_view entry) const;
    /// Number of entries beginning with `prefix`.
    std::size_t countPrefix(std::string_view prefix) const;
    bool contains(std::string_view entry) const { return count(entry) != 0; }
    /// Position of the first entry equal to `entry` at or after `from`; -1 when absent.
    std::ptrdiff_t indexOf(std::string_view entry, std::size_t from = 0) const;
    /// True when the given entries occur in this order (others may lie between).
    bool inOrder(std::initializer_list<std::string_view> sequence) const;
    /// Every entry on a line of its own, for failure messages.
    std::string dump() const;
    void clear();

private:
    static void append(std::string& entry, std::string_view piece) { entry += piece; }
    static void append(std::string& entry, const char* piece) { entry += piece; }
    static void append(std::string& entry, const std::string& piece) { entry += piece; }
    static void append(std::string& entry, long long number) { entry += std::to_string(number); }

    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
    std::shared_ptr<LogWriter> writer_;
};

/// Counters of one simulated COM object; shared by the object and the tests.
class ObjectProbe {
public:
    explicit ObjectProbe(std::string name) : name_(std::move(name)) {}
    /// Name used in the log, e.g. "JogDialDevice#0".
    const std::string& name() const noexcept { return name_; }
    /// The object's current COM reference count (0 once it is destroyed).
    long refCount() const noexcept { return refs_.load(); }
    /// False once the object has been destroyed.
    bool alive() const noexcept { return alive_.load(); }

    // Object side: the simulated object keeps its count here.
    long addRef() noexcept { return ++refs_; }
    long release() noexcept { return --refs_; }
    void markDestroyed() noexcept { alive_ = false; }

private:
    std::string name_;
    std::atomic<long> refs_{0};
    std::atomic<bool> alive_{true};
};

/// One simulated device: its counters, its connection point's counters, the
/// advised sinks and the means to fire events at them.
/// Thread rule: every member may be called from any thread. By default
/// delivery to the sinks is serialised by an internal lock that Unadvise also
/// takes, so once Unadvise has returned no further event reaches that sink;
/// the sinks are not AddRef'd for a delivery. That is stricter than COM asks
/// and is what the in-process tests rely on; the installed simulator delivers
/// outside the lock instead (deliverOutsideLock).
class DeviceProbe : public ObjectProbe {
public:
    DeviceProbe(Kind kind, int index);
    Kind kind() const noexcept { return kind_; }
    int index() const noexcept { return index_; }
    /// The DIID its connection point serves.
    const IID& eventIid() const noexcept;
    /// Counters of the device's connection point object.
    const ObjectProbe& connectionPoint() const noexcept { return connectionPoint_; }
    ObjectProbe& connectionPoint() noexcept { return connectionPoint_; }
    /// Number of sinks currently advised.
    std::size_t sinkCount() const;
    /// Cookies of the sinks currently advised, in Advise order.
    std::vector<DWORD> cookies() const;
    /// The sinks currently advised, each with a reference of the caller's own:
    /// what a source that copies its sink list before Unadvise keeps.
    std::vector<IDispatchPtr> sinks() const;

    /// Invokes `dispid` on every advised sink on the calling thread with the
    /// parameters given first-to-last (they are reversed into rgvarg, no named
    /// arguments); returns each sink's HRESULT in Advise order.
    std::vector<HRESULT> fire(DISPID dispid, const std::vector<_variant_t>& paramsInOrder);
    /// Invokes `dispid` on every advised sink with `params` exactly as given
    /// (for malformed argument lists); returns each sink's HRESULT.
    std::vector<HRESULT> fireRaw(DISPID dispid, DISPPARAMS& params);
    /// As fire(), from a new thread (COM not initialised on it) that is joined.
    std::vector<HRESULT> fireOnNewThread(DISPID dispid, const std::vector<_variant_t>& paramsInOrder);
    /// As fireRaw(), from a new thread that is joined.
    std::vector<HRESULT> fireRawOnNewThread(DISPID dispid, DISPPARAMS& params);
    /// With true, deliveries no longer hold the lock across Invoke: each takes
    /// its own reference to the advised sinks under the lock and calls them
    /// outside it, as many connection points do, so Unadvise returns while a
    /// delivery on another thread is still running in the sink.
    void deliverOutsideLock(bool outside) noexcept { outsideLock_ = outside; }
    /// A keypad's backlight of `button` as SetBacklight last left it; buttons
    /// outside 0 to 63 are never lit.
    bool lit(int button) const noexcept;

    // Object side, used by the simulated connection point and device.
    /// Takes over one reference to `sink`; returns the new nonzero cookie.
    DWORD addSink(Dravlo::ComRef<IDispatch> sink);
    /// Releases the sink of `cookie`; false when no such sink is advised.
    bool removeSink(DWORD cookie);
    /// Releases every sink (the device is going away).
    void releaseAllSinks();
    /// SetBacklight(button, on) reached the device.
    void setLight(int button, bool on) noexcept;

private:
    struct Connection {
        DWORD cookie;
        Dravlo::ComRef<IDispatch> sink;
    };
    Kind kind_;
    int index_;
    ObjectProbe connectionPoint_;
    mutable std::recursive_mutex mutex_;
    std::vector<Connection> connections_;
    DWORD nextCookie_ = 1;
    std::atomic<bool> outsideLock_{false};
    std::atomic<std::uint64_t> lights_{0};  // bit b: button b lit
};

/// Parameters first-to-last as VT_I4 values, e.g. intArgs({jogDialId, joggState}).
std::vector<_variant_t> intArgs(std::initializer_list<long> values);
/// The Error event's parameters: two VT_I4 and a VT_BSTR.
std::vector<_variant_t> errorArgs(long deviceId, long errorCode, const wchar_t* errorInfo);

struct SimulatorCore;  // shared by the simulator and every object it made

/// Class objects registered with CoRegisterClassObject on the calling thread;
/// revoked by the destructor (or revoke()) on the same thread. Move-only.
class InProcessRegistration {
public:
    InProcessRegistration() = default;
    explicit InProcessRegistration(std::shared_ptr<SimulatorCore> core);
    InProcessRegistration(InProcessRegistration&& other) noexcept;
    InProcessRegistration& operator=(InProcessRegistration&& other) noexcept;
    ~InProcessRegistration();
    /// S_OK, or the first CoRegisterClassObject failure.
    HRESULT result() const noexcept { return result_; }
    /// Revokes whatever is registered; idempotent.
    void revoke() noexcept;
    /// True while at least one class object is registered.
    bool active() const noexcept { return jogDialCookie_ != 0 || keyPadCookie_ != 0; }

private:
    std::shared_ptr<SimulatorCore> core_;
    DWORD jogDialCookie_ = 0;
    DWORD keyPadCookie_ = 0;
    HRESULT result_ = E_UNEXPECTED;
};

/// An IInitializeSpy on the calling thread: the class objects are registered
/// when that thread's apartment is first entered (CoInitialize succeeding with
/// apartment count 1) and revoked before its last CoUninitialize. For tests in
/// which the library initialises COM itself. The destructor revokes the spy
/// (and any registration left) and must run on the same thread. Move-only.
class InitializeSpyRegistration {
public:
    explicit InitializeSpyRegistration(std::shared_ptr<SimulatorCore> core);
    InitializeSpyRegistration(InitializeSpyRegistration&& other) noexcept;
    InitializeSpyRegistration& operator=(InitializeSpyRegistration&&) = delete;
    ~InitializeSpyRegistration();
    /// Result of CoRegisterInitializeSpy.
    HRESULT result() const noexcept { return result_; }
    /// True while the class objects are registered through the spy.
    bool classesRegistered() const noexcept;
    /// Number of times the spy registered the class objects.
    int registrations() const noexcept;

private:
    class Spy;
    Dravlo::ComRef<Spy> spy_;
    ULARGE_INTEGER cookie_{};
    HRESULT result_ = E_UNEXPECTED;
};

/// The simulated driver as a test sees it. Objects it made stay valid (they
/// share its state) even if it is destroyed first.
class Simulator {
public:
    Simulator();
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    /// Sizes and faults of one kind (see KindConfig for when they are read).
    KindConfig& config(Kind kind);
    CallLog& log();
    /// Collections, devices and connection points currently alive (class
    /// objects are not counted).
    long liveObjects() const;

    /// The latest driver object (collection) of `kind`; null before the first.
    std::shared_ptr<ObjectProbe> collection(Kind kind) const;
    /// Number of driver objects of `kind` made so far.
    int collectionsCreated(Kind kind) const;
    /// Device `index` of the latest driver object of `kind`; null when absent.
    std::shared_ptr<DeviceProbe> device(Kind kind, int index) const;
    std::shared_ptr<DeviceProbe> jogDialDevice(int index) const { return device(Kind::JogDial, index); }
    std::shared_ptr<DeviceProbe> keyPadDevice(int index) const { return device(Kind::KeyPad, index); }

    /// Makes a driver object of `kind` directly, as its class object would
    /// (honours `registered` with REGDB_E_CLASSNOTREG); *out gets one reference.
    HRESULT createDriverObject(Kind kind, REFIID iid, void** out);
    /// Makes a lone device (no collection) as an event source for sink tests;
    /// returns one reference through *out and its probe through *probe.
    HRESULT createDevice(Kind kind, int index, IUnknown** out, std::shared_ptr<DeviceProbe>* probe = nullptr);

    /// Registers both class objects in the calling thread's apartment, which
    /// must already be initialised. Kinds with registered=false are skipped.
    InProcessRegistration registerInProcess();
    /// Registers both class objects whenever the calling thread enters COM
    /// (see InitializeSpyRegistration); COM must not be initialised yet.
    InitializeSpyRegistration registerOnInitialize();

private:
    std::shared_ptr<SimulatorCore> core_;
};

}  // namespace AxisSim
