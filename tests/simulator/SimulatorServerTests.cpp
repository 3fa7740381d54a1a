// The installed simulator, AxisSimulator.dll: registered by regsvr32, created
// through the registry by the library's own creation sequence, playing its
// default session to a sink from a thread of its own and logging every call
// with its process, thread and step; refusing a class that belongs to another
// server and leaving what other tools added under its own; reporting a
// malformed session once and then playing nothing; calling sinks outside its
// lock; a log that is shared, kept once per process, and never fatal. These
// tests change the prefix's registry and run serially; each removes what it
// may leave.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "com/AxisDriver.h"
#include "simulator/ServerRegistration.h"
#include "tests/com/ModuleTestSupport.h"
#include "tests/com/RecordingSink.h"

namespace {

using ModuleTest::classesKeyDefault;
using ModuleTest::classesKeyExists;
using ModuleTest::EntryPoint;
using ModuleTest::guidString;
using ModuleTest::LoadedLibrary;
using ModuleTest::ScratchDirectory;

const CLSID* const simulatedClasses[] = {&CLSID_AxisJogDial, &CLSID_AxisKeyPad};

std::wstring classKey(REFCLSID clsid) { return L"CLSID\\" + guidString(clsid); }

std::wstring simulatorPath() {
    const std::wstring dravlo = ModuleTest::dravloDllPath();
    return dravlo.substr(0, dravlo.find_last_of(L'\\') + 1) + L"AxisSimulator.dll";
}

std::string readText(const std::wstring& path) {
    std::ifstream file(std::string(path.begin(), path.end()), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

/// The environment variable `name` set to `value` (empty: unset) for its lifetime.
class EnvironmentScope {
public:
    EnvironmentScope(const wchar_t* name, const std::wstring& value) : name_(name) {
        SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
    }
    ~EnvironmentScope() { SetEnvironmentVariableW(name_, nullptr); }

private:
    const wchar_t* name_;
};

template <class Itf>
struct Released {
    void operator()(Itf* p) const { p->Release(); }
};
template <class Itf>
using Owned = std::unique_ptr<Itf, Released<Itf>>;

/// The connection point of keypad `device`.
Owned<IConnectionPoint> eventsOf(IKeyPadDevice* device) {
    IConnectionPointContainer* container = nullptr;
    EXPECT_EQ(S_OK, device->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    if (container == nullptr) return nullptr;
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(S_OK, container->FindConnectionPoint(DIID__IAxisKeyPadEvents, &point));
    container->Release();
    return Owned<IConnectionPoint>(point);
}

/// Advises `sink` on keypad 0 of `collection` and starts it; the device is returned.
Owned<IKeyPadDevice> startKeyPad(IKeyPadCollection* collection, IDispatch* sink, DWORD& cookie) {
    IKeyPadDevice* device = nullptr;
    EXPECT_EQ(S_OK, collection->GetItem(0, &device));
    if (device == nullptr) return nullptr;
    Owned<IKeyPadDevice> owned(device);
    Owned<IConnectionPoint> point = eventsOf(device);
    if (point) {
        EXPECT_EQ(S_OK, point->Advise(sink, &cookie));
    }
    EXPECT_EQ(S_OK, device->Start());
    return owned;
}

bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 250 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return condition();
}

/// A copy of AxisSimulator.dll in `directory`, loaded: a module of its own
/// whatever this process loaded before, so it reads its session and opens its
/// log afresh.
class SimulatorCopy {
public:
    explicit SimulatorCopy(const std::wstring& directory)
        : path_(directory + L"\\AxisSimulatorCopy.dll"), dll_(copied(path_)) {}
    /// A new keypad collection made by the copy's class object.
    Owned<IKeyPadCollection> keyPads() const {
        using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        const auto getClassObject = dll_.entry<GetClassObject>("DllGetClassObject");
        IClassFactory* factory = nullptr;
        if (getClassObject == nullptr ||
            FAILED(getClassObject(CLSID_AxisKeyPad, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
            return nullptr;
        IKeyPadCollection* collection = nullptr;
        EXPECT_EQ(S_OK,
                  factory->CreateInstance(nullptr, __uuidof(IKeyPadCollection), reinterpret_cast<void**>(&collection)));
        factory->Release();
        return Owned<IKeyPadCollection>(collection);
    }
    HRESULT canUnloadNow() const { return dll_.entry<EntryPoint>("DllCanUnloadNow")(); }

private:
    static const std::wstring& copied(const std::wstring& path) {
        EXPECT_TRUE(CopyFileW(simulatorPath().c_str(), path.c_str(), FALSE));
        return path;
    }
    std::wstring path_;
    LoadedLibrary dll_;
};

class SimulatorServer : public ::testing::Test {
protected:
    void SetUp() override { removeKeys(); }
    void TearDown() override { removeKeys(); }
    static void removeKeys() {
        for (const CLSID* clsid : simulatedClasses) RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey(*clsid).c_str());
    }
    /// A session file of `text` in the scratch directory.
    std::wstring writeSession(const std::string& text, const wchar_t* name = L"test.session") const {
        const std::wstring path = scratch.path() + L"\\" + name;
        std::ofstream(std::string(path.begin(), path.end()), std::ios::binary) << text;
        return path;
    }
    ScratchDirectory scratch;
};

TEST_F(SimulatorServer, Regsvr32_CreateThroughRegistry_PlaysDefaultSession_LogsThreads_Unregisters) {
    const std::wstring log = scratch.path() + L"\\simulator.log";
    EnvironmentScope logPath(L"AXIS_SIMULATOR_LOG", log);
    EnvironmentScope session(L"AXIS_SIMULATOR_SESSION", L"");
    const std::wstring quoted = L"\"" + simulatorPath() + L"\"";
    ASSERT_EQ(0u, ModuleTest::runAndWait(L"regsvr32.exe /s " + quoted));
    for (const CLSID* clsid : simulatedClasses) {
        EXPECT_EQ(simulatorPath(), classesKeyDefault(classKey(*clsid) + L"\\InprocServer32"));
        EXPECT_EQ(L"Both", ModuleTest::classesKeyValue(classKey(*clsid) + L"\\InprocServer32", L"ThreadingModel"));
    }

    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    {
        Owned<IKeyPadCollection> collection(static_cast<IKeyPadCollection*>(
            Dravlo::createAxisObject(CLSID_AxisKeyPad, __uuidof(IKeyPadCollection)).detach()));
        ASSERT_TRUE(collection);
        EXPECT_NE(nullptr, GetModuleHandleW(L"AxisSimulator.dll")) << "not served by the registered file";
        int count = 0;
        EXPECT_EQ(S_OK, collection->GetCount(&count));
        EXPECT_EQ(1, count);

        ComTest::RecordingSink sink(DIID__IAxisKeyPadEvents);
        DWORD cookie = 0;
        const auto started = std::chrono::steady_clock::now();
        Owned<IKeyPadDevice> device = startKeyPad(collection.get(), &sink, cookie);
        ASSERT_TRUE(device);
        while (sink.calls().size() < 4 && std::chrono::steady_clock::now() - started < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // Another thread commands the keypad while it plays.
        std::thread([&] { device->SetBacklight(5, 1); }).join();
        device->Stop();
        const auto calls = sink.calls();
        ASSERT_EQ(4u, calls.size());
        const long buttons[] = {5, 5, 6, 6};
        for (std::size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(i % 2 == 0 ? 1 : 2, calls[i].dispid);  // ButtonDown, ButtonUp
            ASSERT_EQ(2u, calls[i].rgvarg.size());
            EXPECT_EQ(buttons[i], static_cast<long>(calls[i].rgvarg[0]));
            EXPECT_EQ(0, static_cast<long>(calls[i].rgvarg[1]));
            EXPECT_NE(GetCurrentThreadId(), calls[i].threadId) << "events come from the simulator's own thread";
            EXPECT_EQ(calls[0].threadId, calls[i].threadId);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));

        // Each line names the process and thread, and counts the entries of its object.
        const std::string text = readText(log);
        const std::string process = " pid=" + std::to_string(GetCurrentProcessId()) + " thread=";
        const std::string here = process + std::to_string(GetCurrentThreadId()) + " step=";
        const std::string player = process + std::to_string(calls[0].threadId) + " step=";
        for (const std::string& line :
             std::vector<std::string>{here + "1 KeyPadDevice#0.Advise(1)\n", here + "3 KeyPadDevice#0.Start\n",
                                      player + "4 KeyPadDevice#0.Session:begin\n",
                                      player + "5 KeyPadDevice#0.Fire:ButtonDown(0,5)->1 sink\n",
                                      player + "8 KeyPadDevice#0.Fire:ButtonUp(0,6)->1 sink\n",
                                      "step=9 KeyPadDevice#0.SetBacklight(5,1)\n", here + "10 KeyPadDevice#0.Stop\n"})
            EXPECT_EQ(1u, occurrences(text, line)) << line << "\nin the log:\n" << text;
        EXPECT_EQ(0u, occurrences(text, here + "9 KeyPadDevice#0.SetBacklight")) << "logged on the wrong thread";
        EXPECT_EQ(occurrences(text, "\n"), occurrences(text, process)) << text;
    }
    CoUninitialize();
    CoFreeUnusedLibrariesEx(0, 0);

    EXPECT_EQ(0u, ModuleTest::runAndWait(L"regsvr32.exe /s /u " + quoted));
    for (const CLSID* clsid : simulatedClasses) EXPECT_FALSE(classesKeyExists(classKey(*clsid)));
}

TEST_F(SimulatorServer, ClassOfAnotherServer_RefusedAndNothingChanges) {
    // The other server's file as a string of any length or type: only a string
    // naming this very file is the simulator's.
    const std::wstring folder = L"C:\\Program Files\\Axis\\", file = L"\\AxisDriver.dll";
    const std::wstring deep = folder + std::wstring(600 - folder.size() - file.size(), L'x') + file;
    const struct {
        const CLSID* taken;
        std::wstring server;
        DWORD type;
    } cases[] = {
        {&CLSID_AxisJogDial, folder + L"AxisDriver.dll", REG_SZ},
        {&CLSID_AxisKeyPad, folder + L"AxisDriver.dll", REG_SZ},
        {&CLSID_AxisJogDial, deep, REG_SZ},
        {&CLSID_AxisKeyPad, L"%ProgramFiles%\\Axis\\AxisDriver.dll", REG_EXPAND_SZ},
    };
    ASSERT_EQ(600u, deep.size());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.server.begin(), c.server.end()));
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (classKey(*c.taken) + L"\\InprocServer32").c_str(),
                                                 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
        RegSetValueExW(key, nullptr, 0, c.type, reinterpret_cast<const BYTE*>(c.server.c_str()),
                       static_cast<DWORD>((c.server.size() + 1) * sizeof(wchar_t)));
        RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Apartment"), 20);
        RegCloseKey(key);
        const std::string vendor = ModuleTest::exportedClassesKey(classKey(*c.taken), 64);
        ASSERT_NE(std::string::npos, vendor.find(std::string("A\0p\0a\0r\0t", 9))) << "not exported";

        LoadedLibrary simulator(simulatorPath());
        ASSERT_NE(nullptr, simulator.get());
        EXPECT_EQ(AxisSim::ClassTakenResult, simulator.entry<EntryPoint>("DllRegisterServer")());
        EXPECT_EQ(S_OK, simulator.entry<EntryPoint>("DllUnregisterServer")());
        EXPECT_EQ(vendor, ModuleTest::exportedClassesKey(classKey(*c.taken), 64));
        const CLSID* other = c.taken == &CLSID_AxisJogDial ? &CLSID_AxisKeyPad : &CLSID_AxisJogDial;
        EXPECT_FALSE(classesKeyExists(classKey(*other)));
        removeKeys();
    }
}

TEST_F(SimulatorServer, MalformedSession_ReportedOnceBesideIt_NothingPlays) {
    const std::wstring sessionFile =
        writeSession("devices keypad 1\nwait 10\nkeypad 0 ShuttleMove 2\nkeypad 0 ButtonDown 1\n", L"broken.session");
    EnvironmentScope session(L"AXIS_SIMULATOR_SESSION", sessionFile);
    EnvironmentScope logPath(L"AXIS_SIMULATOR_LOG", L"");
    ModuleTest::DebugOutput debugger;
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    {
        SimulatorCopy simulator(scratch.path());
        ComTest::RecordingSink sink(DIID__IAxisKeyPadEvents);
        for (int round = 0; round < 2; ++round) {
            Owned<IKeyPadCollection> collection = simulator.keyPads();
            ASSERT_TRUE(collection);
            DWORD cookie = 0;
            Owned<IKeyPadDevice> device = startKeyPad(collection.get(), &sink, cookie);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            device->Stop();
            device->Close();
        }
        EXPECT_TRUE(sink.calls().empty()) << "a malformed session plays nothing";
        EXPECT_EQ(S_OK, simulator.canUnloadNow());
    }
    CoUninitialize();
    const std::string text = readText(sessionFile + L".log");
    EXPECT_EQ(1u, occurrences(text, "AxisSimulator.Session:error ")) << text;
    EXPECT_EQ(1u, occurrences(text, "broken.session:3: keypad has no event ShuttleMove\n")) << text;
    EXPECT_EQ(0u, occurrences(text, "Session:begin")) << text;
    const std::vector<std::string> told = debugger.texts();
    ASSERT_EQ(1u, told.size());
    EXPECT_NE(std::string::npos, told[0].find("broken.session:3: keypad has no event ShuttleMove")) << told[0];
}

/// Writes the string `value` named `name` (null: the default) of HKCR\`key`, creating the key.
void writeValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY opened = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr));
    if (name != nullptr || !value.empty())
        RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
}

TEST_F(SimulatorServer, ForeignEntriesUnderItsClasses_SurviveUnregistration_AndDoNotBlockRegistration) {
    LoadedLibrary simulator(simulatorPath());
    const auto registerServer = simulator.entry<EntryPoint>("DllRegisterServer");
    const auto unregisterServer = simulator.entry<EntryPoint>("DllUnregisterServer");
    ASSERT_EQ(S_OK, registerServer());
    // What other tools add to a class: an AppID, TreatAs, a category, a value beside the server's.
    const std::wstring appId = L"{5D0C6A9E-3F8B-4E21-9C7D-0A1B2C3D4E5F}";
    const std::wstring category = L"\\Implemented Categories\\{62C8FE65-4EBB-45E7-B440-6E39B2CDBF29}";
    for (const CLSID* clsid : simulatedClasses) {
        writeValue(classKey(*clsid), L"AppID", appId);
        writeValue(classKey(*clsid) + L"\\TreatAs", nullptr, appId);
        writeValue(classKey(*clsid) + category, nullptr, L"");
        writeValue(classKey(*clsid) + L"\\InprocServer32", L"Foreign", L"kept");
    }
    // Values the simulator wrote and another tool changed since are that tool's.
    writeValue(classKey(CLSID_AxisKeyPad), nullptr, L"renamed");
    writeValue(classKey(CLSID_AxisKeyPad) + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    EXPECT_EQ(S_OK, unregisterServer());
    for (const CLSID* clsid : simulatedClasses) {
        const std::wstring key = classKey(*clsid), server = key + L"\\InprocServer32";
        EXPECT_EQ(appId, ModuleTest::classesKeyValue(key, L"AppID"));
        EXPECT_EQ(appId, classesKeyDefault(key + L"\\TreatAs"));
        EXPECT_TRUE(classesKeyExists(key + category));
        EXPECT_EQ(L"kept", ModuleTest::classesKeyValue(server, L"Foreign"));
        const bool changed = clsid == &CLSID_AxisKeyPad;
        EXPECT_EQ(changed ? L"renamedApartment" : L"", classesKeyDefault(key) + classesKeyDefault(server) +
                                                           ModuleTest::classesKeyValue(server, L"ThreadingModel"))
            << "the simulator's own values stay";
    }
    // A class that names no server, or an empty class key, is free to register.
    ASSERT_EQ(S_OK, registerServer());
    EXPECT_EQ(simulatorPath(), classesKeyDefault(classKey(CLSID_AxisKeyPad) + L"\\InprocServer32"));
    removeKeys();
    for (const CLSID* clsid : simulatedClasses) writeValue(classKey(*clsid), nullptr, L"");
    EXPECT_EQ(S_OK, registerServer());
    EXPECT_EQ(S_OK, unregisterServer());
    for (const CLSID* clsid : simulatedClasses) EXPECT_FALSE(classesKeyExists(classKey(*clsid)));
    // A registration that fails halfway through a class (a volatile class key
    // takes no lasting subkey) takes back what it wrote to every class.
    HKEY keyPad = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, classKey(CLSID_AxisKeyPad).c_str(), 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_WRITE, nullptr, &keyPad, nullptr));
    RegCloseKey(keyPad);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE), registerServer());
    for (const CLSID* clsid : simulatedClasses) EXPECT_FALSE(classesKeyExists(classKey(*clsid)));
}

TEST_F(SimulatorServer, InstalledSimulator_CallsSinksOutsideItsLock_WithAReferenceEach) {
    EnvironmentScope session(L"AXIS_SIMULATOR_SESSION",
                             writeSession("repeat 100\nkeypad 0 ButtonDown 1\nwait 10\nend\n"));
    EnvironmentScope logPath(L"AXIS_SIMULATOR_LOG", L"");
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    {
        SimulatorCopy simulator(scratch.path());
        Owned<IKeyPadCollection> collection = simulator.keyPads();
        ASSERT_TRUE(collection);
        IKeyPadDevice* raw = nullptr;
        ASSERT_EQ(S_OK, collection->GetItem(0, &raw));
        Owned<IKeyPadDevice> device(raw);
        Owned<IConnectionPoint> point = eventsOf(device.get());
        ASSERT_TRUE(point);

        // A sink that unadvises itself while the connection holds its only
        // reference: a count of 0 inside Invoke would destroy it under its call.
        ComTest::RecordingSink selfish(DIID__IAxisKeyPadEvents);
        DWORD selfishCookie = 0;
        std::atomic<long> refsAfterUnadvise{-1};
        selfish.onInvoke = [&] {
            point->Unadvise(selfishCookie);
            refsAfterUnadvise = selfish.refs.load();
        };
        // A sink whose Invoke waits for another thread to unadvise it, as a
        // sink that sends each event to a window's thread does.
        ComTest::RecordingSink waiting(DIID__IAxisKeyPadEvents);
        DWORD waitingCookie = 0;
        std::atomic<bool> started{false}, waited{false}, unadvisedInTime{false};
        std::thread unadvising;  // made by the first Invoke, joined here once `waited`
        waiting.onInvoke = [&] {
            if (started.exchange(true)) return;
            auto done = std::make_shared<std::promise<void>>();
            std::future<void> finished = done->get_future();
            unadvising = std::thread([&point, &waitingCookie, done] {
                point->Unadvise(waitingCookie);
                done->set_value();
            });
            unadvisedInTime = finished.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
            waited = true;
        };
        ASSERT_EQ(S_OK, point->Advise(&selfish, &selfishCookie));
        selfish.Release();  // the test's own reference
        ASSERT_EQ(S_OK, point->Advise(&waiting, &waitingCookie));
        ASSERT_EQ(S_OK, device->Start());

        EXPECT_TRUE(waitFor([&] { return refsAfterUnadvise >= 0 && waited; }));
        device->Stop();
        if (waited) unadvising.join();
        EXPECT_EQ(1, refsAfterUnadvise.load()) << "only the delivery's own reference keeps the sink alive";
        EXPECT_TRUE(unadvisedInTime.load()) << "Unadvise waited for the delivery that waited for it";
        EXPECT_EQ(1u, selfish.calls().size());
        EXPECT_EQ(1u, waiting.calls().size()) << "an event after Unadvise returned";
        EXPECT_EQ(0, selfish.refs.load());
        EXPECT_EQ(1, waiting.refs.load());
    }
    CoUninitialize();
}

TEST_F(SimulatorServer, LogPathUnwritableOrTheSessionFile_ReportedOnce_SessionStillPlays) {
    const std::string sessionText = "devices keypad 1\nkeypad 0 ButtonDown 7\n";
    const std::wstring sessionFile = writeSession(sessionText);
    EnvironmentScope session(L"AXIS_SIMULATOR_SESSION", sessionFile);
    // A second name of another file: written through, it would change that file.
    const std::wstring other = writeSession("another's\n", L"other.txt"), linked = scratch.path() + L"\\linked.log";
    ASSERT_TRUE(CreateHardLinkW(linked.c_str(), other.c_str(), nullptr));
    const std::pair<std::wstring, const char*> cases[] = {
        {scratch.path() + L"\\missing\\simulator.log", "AxisSimulator: cannot write the log "},
        {scratch.path(), "AxisSimulator: cannot write the log "},  // a directory
        {sessionFile, "AxisSimulator: the log "},
        {linked, "AxisSimulator: the log "},
    };
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    for (const auto& [log, told] : cases) {
        SCOPED_TRACE(std::string(log.begin(), log.end()));
        EnvironmentScope logPath(L"AXIS_SIMULATOR_LOG", log);
        ScratchDirectory copyDirectory;
        ModuleTest::DebugOutput debugger;
        ComTest::RecordingSink sink(DIID__IAxisKeyPadEvents);
        {
            SimulatorCopy simulator(copyDirectory.path());
            Owned<IKeyPadCollection> collection = simulator.keyPads();
            ASSERT_TRUE(collection);
            DWORD cookie = 0;
            Owned<IKeyPadDevice> device = startKeyPad(collection.get(), &sink, cookie);
            EXPECT_TRUE(waitFor([&] { return !sink.calls().empty(); })) << "the session did not play";
            device->Stop();
        }
        const std::vector<std::string> texts = debugger.texts();
        ASSERT_EQ(1u, texts.size());
        EXPECT_EQ(0u, texts[0].find(told)) << texts[0];
        EXPECT_EQ(sessionText, readText(sessionFile));
        EXPECT_EQ("another's\n", readText(other));
    }
    CoUninitialize();
}

TEST_F(SimulatorServer, Log_KeptOncePerProcess_ThroughEveryLoadOfTheDll) {
    const std::wstring log = scratch.path() + L"\\simulator.log";
    std::ofstream(std::string(log.begin(), log.end())) << "a line of an earlier process\n";
    EnvironmentScope logPath(L"AXIS_SIMULATOR_LOG", log);
    EnvironmentScope session(L"AXIS_SIMULATOR_SESSION", writeSession("devices keypad 1\n"));
    // A reader of the earlier log: it is replaced, never emptied in place.
    HANDLE earlier = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    for (int load = 0; load < 3; ++load) EXPECT_TRUE(SimulatorCopy(scratch.path()).keyPads());
    EXPECT_EQ(nullptr, GetModuleHandleW((scratch.path() + L"\\AxisSimulatorCopy.dll").c_str())) << "never unloaded";
    char kept[64] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(earlier, kept, sizeof kept - 1, &read, nullptr));
    CloseHandle(earlier);
    EXPECT_EQ(0u, std::string(kept).find("a line of an earlier process")) << kept;
    const std::string text = readText(log);
    EXPECT_EQ(0u, occurrences(text, "earlier process")) << "the log of an earlier process is kept";
    EXPECT_EQ(3u, occurrences(text, " step=1 KeyPadCollection.QueryInterface(IKeyPadCollection)\n")) << text;
}

TEST_F(SimulatorServer, ProcessesSharingTheLog_LoseNoLineUncounted_NorWaitLong) {
    constexpr int Rounds = 2000;
    const std::wstring test = L"SimulatorServer.ProcessesSharingTheLog_LoseNoLineUncounted_NorWaitLong";
    if (std::wstring(GetCommandLineW()).find(L" --dravlo-log-writer") != std::wstring::npos) {
        // A child: writes to the log its parent keeps open, beside another child.
        SimulatorCopy simulator(scratch.path());
        for (int round = 0; round < Rounds; ++round) ASSERT_TRUE(simulator.keyPads());
        return;
    }
    const std::wstring log = scratch.path() + L"\\shared.log";
    EnvironmentScope logPath(L"AXIS_SIMULATOR_LOG", log);
    EnvironmentScope session(L"AXIS_SIMULATOR_SESSION", L"");
    SimulatorCopy simulator(scratch.path());
    ASSERT_TRUE(simulator.keyPads());  // the log is open: no child may replace it
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring child = L"\"" + std::wstring(self) + L"\" --gtest_filter=" + test + L" --dravlo-log-writer";
    DWORD exitCodes[2] = {1, 1};
    std::thread other([&] { exitCodes[1] = ModuleTest::runAndWait(child); });
    exitCodes[0] = ModuleTest::runAndWait(child);
    other.join();
    EXPECT_EQ(0u, exitCodes[0] + exitCodes[1]);

    // While another holds the log's lock, writes drop their lines at once.
    HANDLE file = CreateFileW(log.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(file, &info));
    CloseHandle(file);
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\AxisSimulator.log.%08lX.%08lX%08lX", info.dwVolumeSerialNumber,
                  info.nFileIndexHigh, info.nFileIndexLow);
    std::promise<void> taken, done;
    std::thread holder([&] {
        HANDLE lock = CreateMutexW(nullptr, FALSE, name);
        WaitForSingleObject(lock, INFINITE);
        taken.set_value();
        done.get_future().wait();
        ReleaseMutex(lock);
        CloseHandle(lock);
    });
    taken.get_future().wait();
    const auto started = std::chrono::steady_clock::now();
    for (int round = 0; round < 3; ++round) ASSERT_TRUE(simulator.keyPads());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    done.set_value();
    holder.join();
    ASSERT_TRUE(simulator.keyPads());

    // Every line whole; each process's objects counted, every gap said.
    const std::regex format(R"(\d\d:\d\d:\d\d\.\d{3} pid=(\d+) thread=\d+ step=(\d+) ([^.]+)\..+)");
    const std::regex dropNote(R"(AxisSimulator\.Log:dropped\((\d+)\)$)");
    std::map<std::pair<std::string, std::string>, unsigned long> steps;
    std::map<std::string, unsigned long> gaps, dropped;
    std::map<std::string, int> collections;
    std::istringstream in(readText(log));
    for (std::string line; std::getline(in, line);) {
        std::smatch match, note;
        ASSERT_TRUE(std::regex_match(line, match, format)) << line;
        unsigned long& step = steps[std::make_pair(match[1], match[3])];
        const unsigned long now = std::stoul(match[2]);
        ASSERT_LT(step, now) << line;
        gaps[match[1]] += now - step - 1;
        step = now;
        if (std::regex_search(line, note, dropNote)) dropped[match[1]] += std::stoul(note[1]);
        if (line.find("KeyPadCollection.Release->0") != std::string::npos) ++collections[match[1]];
    }
    const std::string parent = std::to_string(GetCurrentProcessId());
    EXPECT_EQ(2, collections[parent]) << "the three rounds under the other's lock were logged";
    EXPECT_NE(0u, dropped[parent]);
    EXPECT_EQ(gaps[parent], dropped[parent]);
    collections.erase(parent);
    ASSERT_EQ(2u, collections.size());
    for (const auto& [pid, count] : collections) {
        SCOPED_TRACE("pid " + pid);
        EXPECT_LE(gaps[pid], dropped[pid]) << "lines lost uncounted";
        // The last line may go with no line after it to count it.
        EXPECT_LE(static_cast<unsigned long>(Rounds - count), dropped[pid] + 1);
    }
}

}  // namespace
