// The panel of AxisSimulator.dll, loaded by path as a host loads it, in a
// Wine prefix whose graphics driver draws nowhere (cmake/wine-headless.sh):
// its window comes with the first device object and goes with the last, and
// no teardown on any thread waits for the panel's thread, even while that
// thread is stuck in a sink; the DLL stays mapped until that thread is done.
// Input is posted to the window as Windows posts it; what a real display and
// a real JVM make of the panel is realjvm.Panel's.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "com/AxisDriver.h"
#include "tests/com/ModuleTestSupport.h"
#include "tests/com/RecordingSink.h"

namespace {

using ModuleTest::EntryPoint;
using ModuleTest::LoadedLibrary;
using ModuleTest::ScratchDirectory;

template <class Itf>
struct Released {
    void operator()(Itf* p) const { p->Release(); }
};
template <class Itf>
using Owned = std::unique_ptr<Itf, Released<Itf>>;

/// Polls `condition` for up to 10 s.
bool waitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

/// This process's panel (tests of other processes may show theirs meanwhile).
HWND panelWindow() {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"AxisSimulatorPanel", L"Axis Simulator")) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) return window;
    }
    return nullptr;
}

/// The log's entries that begin with "Panel." or name device 0 of the keypad,
/// one a line, without time, process, thread and step.
std::string panelEntries(const std::wstring& log) {
    std::ifstream file(std::string(log.begin(), log.end()));
    std::string entries;
    for (std::string line; std::getline(file, line);) {
        const std::string entry = line.substr(line.find(' ', line.find(" step=") + 1) + 1);
        if (entry.rfind("Panel.", 0) == 0 || entry.rfind("KeyPadDevice#0.Fire", 0) == 0) entries += entry + "\n";
    }
    return entries;
}

/// Environment variables set for the fixture's lifetime.
class Environment {
public:
    void set(const wchar_t* name, const std::wstring& value) {
        SetEnvironmentVariableW(name, value.c_str());
        names_.push_back(name);
    }
    ~Environment() {
        for (const wchar_t* name : names_) SetEnvironmentVariableW(name, nullptr);
    }

private:
    std::vector<const wchar_t*> names_;
};

class SimulatorPanel : public ::testing::Test {
protected:
    /// Loads a fresh copy of AxisSimulator.dll playing `session` and logging to log().
    void load(const std::string& session, bool panelFromEnvironment) {
        const std::wstring sessionPath = scratch.path() + L"\\panel.session";
        std::ofstream(std::string(sessionPath.begin(), sessionPath.end()), std::ios::binary) << session;
        environment.set(L"AXIS_SIMULATOR_SESSION", sessionPath);
        environment.set(L"AXIS_SIMULATOR_LOG", log());
        if (panelFromEnvironment) environment.set(L"AXIS_SIMULATOR_PANEL", L"1");
        const std::wstring dravlo = ModuleTest::dravloDllPath();
        const std::wstring built = dravlo.substr(0, dravlo.find_last_of(L'\\') + 1) + L"AxisSimulator.dll";
        ASSERT_TRUE(CopyFileW(built.c_str(), copy().c_str(), FALSE));
        dll.emplace(copy());
        ASSERT_NE(nullptr, dll->get());
    }
    std::wstring copy() const { return scratch.path() + L"\\AxisSimulatorPanel.dll"; }
    std::wstring log() const { return scratch.path() + L"\\panel.log"; }
    bool mapped() const { return GetModuleHandleW(copy().c_str()) != nullptr; }

    Owned<IKeyPadCollection> keyPads() const {
        using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        IClassFactory* factory = nullptr;
        EXPECT_EQ(S_OK, dll->entry<GetClassObject>("DllGetClassObject")(CLSID_AxisKeyPad, IID_IClassFactory,
                                                                        reinterpret_cast<void**>(&factory)));
        if (factory == nullptr) return nullptr;
        IKeyPadCollection* collection = nullptr;
        EXPECT_EQ(S_OK,
                  factory->CreateInstance(nullptr, __uuidof(IKeyPadCollection), reinterpret_cast<void**>(&collection)));
        factory->Release();
        return Owned<IKeyPadCollection>(collection);
    }

    ScratchDirectory scratch;
    Environment environment;
    std::optional<LoadedLibrary> dll;
};

TEST_F(SimulatorPanel, TeardownOnAnotherThreadWhileItsThreadIsInASink_NeverWaits_ThenTheWindowGoesAndTheDllWithIt) {
    ASSERT_NO_FATAL_FAILURE(load("devices keypad 1\n", true));
    Owned<IKeyPadCollection> collection = keyPads();
    ASSERT_TRUE(collection);
    ASSERT_TRUE(waitFor([] { return panelWindow() != nullptr; })) << "no panel";

    IKeyPadDevice* raw = nullptr;
    ASSERT_EQ(S_OK, collection->GetItem(0, &raw));
    Owned<IKeyPadDevice> device(raw);
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(S_OK, device->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    IConnectionPoint* rawPoint = nullptr;
    EXPECT_EQ(S_OK, container->FindConnectionPoint(DIID__IAxisKeyPadEvents, &rawPoint));
    container->Release();
    Owned<IConnectionPoint> point(rawPoint);
    ASSERT_TRUE(point);

    // The sink holds the panel's thread inside its first call until let go.
    ComTest::RecordingSink sink(DIID__IAxisKeyPadEvents);
    std::promise<void> entered, letGo;
    std::shared_future<void> gate = letGo.get_future().share();
    sink.onInvoke = [&entered, gate] {
        entered.set_value();
        gate.wait();
    };
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    ASSERT_EQ(S_OK, device->Start());
    ASSERT_TRUE(PostMessageW(panelWindow(), WM_KEYDOWN, '5', 1));
    ASSERT_EQ(std::future_status::ready, entered.get_future().wait_for(std::chrono::seconds(10)));

    // Everything a program does to close, on a thread of its own, while the
    // panel's thread cannot take a message: none of it may wait for that.
    std::packaged_task<HRESULT()> teardown([&] {
        device->SetBacklight(5, 1);
        point->Unadvise(cookie);
        device->Stop();
        device->Close();
        point.reset();
        device.reset();
        collection.reset();  // the last device object: the window is to close
        const HRESULT unload = dll->entry<EntryPoint>("DllCanUnloadNow")();
        dll.reset();  // the host's FreeLibrary
        return unload;
    });
    std::future<HRESULT> closed = teardown.get_future();
    std::thread closing(std::move(teardown));
    const bool waited = closed.wait_for(std::chrono::seconds(10)) != std::future_status::ready;
    const bool stillMapped = mapped();
    letGo.set_value();
    closing.join();
    EXPECT_FALSE(waited) << "a teardown step waited for the panel's thread";
    EXPECT_EQ(S_FALSE, closed.get()) << "DllCanUnloadNow while the panel's thread runs";
    EXPECT_TRUE(stillMapped) << "the DLL was unmapped under the panel's thread";

    EXPECT_TRUE(waitFor([this] { return !mapped(); })) << "the panel's thread did not end and let the DLL go";
    EXPECT_EQ(nullptr, panelWindow());
    const auto calls = sink.calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_NE(GetCurrentThreadId(), calls[0].threadId);
    EXPECT_EQ(1, sink.refs.load());
    EXPECT_EQ(
        "Panel.Open\n"
        "Panel.ButtonDown(keypad,5) by key 5\n"
        "KeyPadDevice#0.Fire:ButtonDown(0,5)->1 sink\n"
        "Panel.Closed\n",
        panelEntries(log()));
}

TEST_F(SimulatorPanel, ClosedByTheUser_StaysClosedWhileDevicesLive_OpensAgainForTheNext) {
    ASSERT_NO_FATAL_FAILURE(load("panel\n", false));
    Owned<IKeyPadCollection> first = keyPads();
    ASSERT_TRUE(waitFor([] { return panelWindow() != nullptr; })) << "no panel from the session's panel line";
    ASSERT_TRUE(PostMessageW(panelWindow(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(42, 117)));  // keypad button 5
    ASSERT_TRUE(PostMessageW(panelWindow(), WM_LBUTTONUP, 0, MAKELPARAM(42, 117)));
    ASSERT_TRUE(PostMessageW(panelWindow(), WM_CLOSE, 0, 0));
    ASSERT_TRUE(waitFor([] { return panelWindow() == nullptr; })) << "WM_CLOSE left it open";
    Owned<IKeyPadCollection> second = keyPads();  // devices still live: it stays closed
    first.reset();
    second.reset();
    Owned<IKeyPadCollection> third = keyPads();
    EXPECT_TRUE(waitFor([] { return panelWindow() != nullptr; })) << "not opened again once every device had gone";
    third.reset();
    dll.reset();
    ASSERT_TRUE(waitFor([this] { return !mapped(); }));
    EXPECT_EQ(
        "Panel.Open\n"
        "Panel.ButtonDown(keypad,5) by mouse\n"
        "KeyPadDevice#0.Fire:ButtonDown(0,5)->0 sinks\n"
        "Panel.ButtonUp(keypad,5) by mouse\n"
        "KeyPadDevice#0.Fire:ButtonUp(0,5)->0 sinks\n"
        "Panel.Closed(user)\n"
        "Panel.Open\n"
        "Panel.Closed\n",
        panelEntries(log()));
}

}  // namespace
