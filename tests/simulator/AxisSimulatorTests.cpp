// The simulated driver's own behaviour that other tests rely on: fault
// injection, connection points, event delivery and registration.

#include "simulator/AxisSimulator.h"
#include "simulator/ModuleThread.h"
#include "simulator/ServerLog.h"
#include "simulator/Session.h"
#include "simulator/SessionPlayer.h"
#include "tests/com/RecordingSink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

namespace {

using AxisSim::Kind;
using ComTest::RecordingSink;
namespace Dispid = AxisSim::Dispid;

// Connection point of a device made straight from the simulator (no COM
// registration needed).
class AxisSimulatorEvents : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, sim.createDevice(Kind::JogDial, 0, &device, &probe));
        IConnectionPointContainer* container = nullptr;
        ASSERT_EQ(S_OK, device->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
        ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IAxisJogDialEvents, &point));
        container->Release();
    }
    void TearDown() override {
        if (point != nullptr) point->Release();
        if (device != nullptr) device->Release();
        EXPECT_EQ(0, sim.liveObjects()) << sim.log().dump();
        EXPECT_EQ(1, sink.refs.load());
        EXPECT_EQ(1, second.refs.load());
    }

    AxisSim::Simulator sim;
    IUnknown* device = nullptr;
    IConnectionPoint* point = nullptr;
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    RecordingSink sink{DIID__IAxisJogDialEvents};
    RecordingSink second{DIID__IAxisJogDialEvents};
};

TEST_F(AxisSimulatorEvents, Fire_ReversesArgumentsOnCallingThread) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(2, sink.refs.load());
    sink.answer = S_FALSE;

    EXPECT_EQ(std::vector<HRESULT>{S_FALSE}, probe->fire(Dispid::JogMove, AxisSim::intArgs({7, -3})));
    EXPECT_EQ(std::vector<HRESULT>{S_FALSE}, probe->fire(Dispid::Error, AxisSim::errorArgs(7, 42, L"lost")));

    auto calls = sink.calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(Dispid::JogMove, calls[0].dispid);
    ASSERT_EQ(2u, calls[0].rgvarg.size());
    EXPECT_EQ(VT_I4, calls[0].rgvarg[0].vt);
    EXPECT_EQ(-3, calls[0].rgvarg[0].lVal);
    EXPECT_EQ(7, calls[0].rgvarg[1].lVal);
    EXPECT_EQ(GetCurrentThreadId(), calls[0].threadId);
    ASSERT_EQ(3u, calls[1].rgvarg.size());
    ASSERT_EQ(VT_BSTR, calls[1].rgvarg[0].vt);
    EXPECT_STREQ(L"lost", calls[1].rgvarg[0].bstrVal);
    EXPECT_EQ(42, calls[1].rgvarg[1].lVal);
    EXPECT_EQ(7, calls[1].rgvarg[2].lVal);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(AxisSimulatorEvents, FireOnNewThread_DeliversFromAnotherThread) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, probe->fireOnNewThread(Dispid::ButtonDown, AxisSim::intArgs({1, 5})));
    auto calls = sink.calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_NE(GetCurrentThreadId(), calls[0].threadId);
    EXPECT_EQ(5, calls[0].rgvarg[0].lVal);
    EXPECT_EQ(1, calls[0].rgvarg[1].lVal);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(AxisSimulatorEvents, FireRaw_PassesParamsUnchanged) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    _variant_t args[2] = {_variant_t(L"12"), _variant_t(3L)};
    DISPID named[1] = {0};
    DISPPARAMS params{args, named, 2, 1};
    EXPECT_EQ(1u, probe->fireRawOnNewThread(Dispid::ButtonUp, params).size());
    auto calls = sink.calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(1u, calls[0].namedArgs);
    ASSERT_EQ(VT_BSTR, calls[0].rgvarg[0].vt);
    EXPECT_STREQ(L"12", calls[0].rgvarg[0].bstrVal);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(AxisSimulatorEvents, TwoSinks_DistinctCookies_UnadviseEndsDelivery) {
    DWORD first = 0, other = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &first));
    second.answerEventIid = false;  // reached through IDispatch instead
    ASSERT_EQ(S_OK, point->Advise(&second, &other));
    EXPECT_NE(0u, other);
    EXPECT_NE(first, other);
    EXPECT_EQ((std::vector<DWORD>{first, other}), probe->cookies());
    EXPECT_EQ(2u, probe->fire(Dispid::ButtonUp, AxisSim::intArgs({0, 1})).size());

    EXPECT_EQ(S_OK, point->Unadvise(first));
    EXPECT_EQ(1, sink.refs.load());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(first));
    EXPECT_EQ(1u, probe->fire(Dispid::ButtonUp, AxisSim::intArgs({0, 1})).size());
    EXPECT_EQ(1u, sink.calls().size());
    EXPECT_EQ(2u, second.calls().size());
    EXPECT_TRUE(sim.log().inOrder({"JogDialDevice#0.Advise(1)", "JogDialDevice#0.SinkTypeInfo->0x80004001",
                                   "JogDialDevice#0.Advise(2)", "JogDialDevice#0.Unadvise(1)",
                                   "JogDialDevice#0.Unadvise(1)->0x80040200"}))
        << sim.log().dump();
    EXPECT_EQ(S_OK, point->Unadvise(other));
}

TEST_F(AxisSimulatorEvents, UnadviseDuringDeliveryFromOtherThread_NoEventAfterReturn) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    std::atomic<bool> stop{false};
    std::thread firing([&] {
        while (!stop) probe->fire(Dispid::JogMove, AxisSim::intArgs({0, 1}));
    });
    while (sink.calls().size() < 50) Sleep(0);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
    std::size_t delivered = sink.calls().size();
    Sleep(20);
    stop = true;
    firing.join();
    EXPECT_EQ(delivered, sink.calls().size());
}

TEST_F(AxisSimulatorEvents, AdviseFaults_HoldNothing) {
    DWORD cookie = 77;
    sink.answerEventIid = sink.answerDispatch = false;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&sink, &cookie));
    EXPECT_EQ(0u, cookie);
    sink.answerDispatch = true;
    sim.config(Kind::JogDial).adviseResult = CONNECT_E_ADVISELIMIT;
    cookie = 77;
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, point->Advise(&sink, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(0u, probe->sinkCount());
    EXPECT_EQ(1, sink.refs.load());
}

TEST_F(AxisSimulatorEvents, UnadviseFault_KeepsSinkUntilDeviceDies) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    sim.config(Kind::JogDial).unadviseResult = E_FAIL;
    EXPECT_EQ(E_FAIL, point->Unadvise(cookie));
    EXPECT_EQ(1u, probe->sinkCount());
    // The dying device drops its connections; the point outlives it detached.
    device->Release();
    device = nullptr;
    EXPECT_FALSE(probe->alive());
    EXPECT_EQ(1, sink.refs.load());
    EXPECT_TRUE(probe->connectionPoint().alive());
    IConnectionPointContainer* container = reinterpret_cast<IConnectionPointContainer*>(1);
    EXPECT_EQ(E_UNEXPECTED, point->GetConnectionPointContainer(&container));
    EXPECT_EQ(nullptr, container);
}

TEST(AxisSimulatorDevice, ConnectionPointsServeTheirKindOnly) {
    AxisSim::Simulator sim;
    IUnknown* keypad = nullptr;
    ASSERT_EQ(S_OK, sim.createDevice(Kind::KeyPad, 4, &keypad));
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(S_OK, keypad->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    IConnectionPoint* point = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(DIID__IAxisJogDialEvents, &point));
    EXPECT_EQ(nullptr, point);
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IAxisKeyPadEvents, &point));
    IID served{};
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&served));
    EXPECT_EQ(DIID__IAxisKeyPadEvents, served);
    point->Release();
    container->Release();

    sim.config(Kind::KeyPad).connectionPointContainer = false;
    EXPECT_EQ(E_NOINTERFACE,
              keypad->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    keypad->Release();
    EXPECT_TRUE(sim.log().contains("KeyPadDevice#4.Release->0"));
    EXPECT_EQ(0, sim.liveObjects());
}

// The session player stops without deadlock while a sink call is in flight,
// whether the stop comes from inside that call or from another thread.
std::shared_ptr<const AxisSim::Session> endlessJogging() {
    auto parsed = AxisSim::parseSession("repeat 1000\njogdial 0 JogMove 1\nwait 5\nend\n");
    return std::make_shared<const AxisSim::Session>(std::get<AxisSim::Session>(std::move(parsed)));
}

bool waitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 250 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return condition();
}

TEST_F(AxisSimulatorEvents, SessionPlayer_StoppedFromInsideItsSinkCall_EndsAfterThatCall) {
    std::unique_ptr<AxisSim::SessionPlayer> player;
    std::mutex made;
    sink.onInvoke = [&] {
        std::lock_guard lock(made);
        player->stop();  // as a listener that uninitialises from inside an event
    };
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    {
        std::lock_guard lock(made);
        player = std::make_unique<AxisSim::SessionPlayer>(endlessJogging(), Kind::JogDial, std::vector{probe},
                                                          std::make_shared<AxisSim::CallLog>());
    }
    ASSERT_TRUE(waitUntil([] { return AxisSim::moduleThreadsRunning() == 0; })) << "the player never ended";
    EXPECT_EQ(1u, sink.calls().size());
    player.reset();
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(AxisSimulatorEvents, SessionPlayer_StoppedByAnotherThreadDuringASinkCall_WaitsForItThenFiresNoMore) {
    std::atomic<bool> inCall{false};
    std::atomic<bool> callReturned{false};
    sink.onInvoke = [&] {
        if (inCall.exchange(true)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        callReturned = true;
    };
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    auto log = std::make_shared<AxisSim::CallLog>();
    AxisSim::SessionPlayer player(endlessJogging(), Kind::JogDial, std::vector{probe}, log);
    ASSERT_TRUE(waitUntil([&] { return inCall.load(); }));
    player.stop();
    EXPECT_TRUE(callReturned.load()) << "stop() returned while the sink call was still in flight";
    EXPECT_EQ(0, AxisSim::moduleThreadsRunning());
    const std::size_t delivered = sink.calls().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(delivered, sink.calls().size());
    EXPECT_TRUE(log->inOrder({"JogDialDevice#0.Session:begin", "JogDialDevice#0.Fire:JogMove(0,1)->1 sink",
                              "JogDialDevice#0.Session:stopped"}))
        << log->dump();
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

// Sessions of the installed simulator: what the parser makes of a text.

/// The session's events and pauses in play order, as the log shows events.
std::vector<std::string> played(const AxisSim::Session& session) {
    std::vector<std::string> shown;
    AxisSim::SessionWalk walk(session);
    while (const AxisSim::SessionStep* step = walk.next())
        shown.push_back(step->op == AxisSim::SessionStep::Op::Wait ? "wait " + std::to_string(step->value)
                                                                   : session.eventText(*step));
    return shown;
}

const AxisSim::Session& parsedOk(const std::variant<AxisSim::Session, AxisSim::SessionError>& parsed) {
    if (auto* error = std::get_if<AxisSim::SessionError>(&parsed))
        ADD_FAILURE() << "line " << error->line << ": " << error->reason;
    static const AxisSim::Session none;
    return std::holds_alternative<AxisSim::Session>(parsed) ? std::get<AxisSim::Session>(parsed) : none;
}

TEST(AxisSession, DefaultSession_OneDeviceEachAndFirstEventWithinASecond) {
    auto parsed = AxisSim::parseSession(AxisSim::defaultSessionText());
    const AxisSim::Session& session = parsedOk(parsed);
    EXPECT_EQ(1, session.devices[0]);
    EXPECT_EQ(1, session.devices[1]);
    long before = 0;
    bool kinds[2] = {};
    AxisSim::SessionWalk walk(session);
    while (const AxisSim::SessionStep* step = walk.next()) {
        if (step->op == AxisSim::SessionStep::Op::Event) kinds[static_cast<int>(step->kind)] = true;
        if (!kinds[0] && !kinds[1]) before += step->value;
    }
    EXPECT_LT(before, 1000);
    EXPECT_TRUE(kinds[0] && kinds[1]) << "the default session raises events of both kinds";
}

TEST(AxisSession, RepeatsPlayInOrderAndEventsCarryTheirArguments) {
    auto parsed = AxisSim::parseSession(
        "devices keypad 2  # two keypads\n"
        "repeat 2\n wait 10\n repeat 3\n  keypad 1 ButtonDown +4\n end\nend\n"
        "repeat 5\n repeat 2\n end\nend\n"  // plays nothing
        "jogdial 0 Error -7 lost contact\n\tjogdial 0 JogMove -1\r\n");
    const AxisSim::Session& session = parsedOk(parsed);
    EXPECT_EQ(2, session.devices[static_cast<int>(Kind::KeyPad)]);
    const std::vector<std::string> expected = {"wait 10",         "ButtonDown(1,4)", "ButtonDown(1,4)",
                                               "ButtonDown(1,4)", "wait 10",         "ButtonDown(1,4)",
                                               "ButtonDown(1,4)", "ButtonDown(1,4)", "Error(0,-7,\"lost contact\")",
                                               "JogMove(0,-1)"};
    EXPECT_EQ(expected, played(session));
    const AxisSim::SessionStep& errorStep = session.steps[session.steps.size() - 2];
    const std::vector<_variant_t> error = session.eventArguments(errorStep);
    ASSERT_EQ(3u, error.size());
    EXPECT_EQ(VT_BSTR, error[2].vt);
    EXPECT_STREQ(L"lost contact", error[2].bstrVal);
}

TEST(AxisSession, LargeRepeats_TakeMemoryOfTheTextNotOfThePlaying) {
    // 4 KB that once took 426 MB: each of 100000 unrolled steps copied the text.
    const std::string text = "repeat 10\nrepeat 10000\njogdial 0 Error 5 " + std::string(4000, 'x') + "\nend\nend\n";
    auto parsed = AxisSim::parseSession(text);
    const AxisSim::Session& session = parsedOk(parsed);
    EXPECT_LE(session.steps.size(), 5u);
    ASSERT_EQ(1u, session.texts.size());
    EXPECT_EQ(AxisSim::Session::MaxTextBytes, session.texts[0].size());
    EXPECT_EQ(3, session.textCutAtLine);
    std::size_t events = 0;
    AxisSim::SessionWalk walk(session);
    while (walk.next() != nullptr) ++events;
    EXPECT_EQ(AxisSim::Session::MaxSteps, events);
    // The cap holds for a session without repeats as well: it may reach it, not pass it.
    std::string flat;
    for (std::size_t i = 0; i < AxisSim::Session::MaxSteps; ++i) flat += "wait 1\n";
    EXPECT_EQ(AxisSim::Session::MaxSteps, parsedOk(AxisSim::parseSession(flat)).steps.size());
    auto tooLong = AxisSim::parseSession(flat + "wait 1\n");
    ASSERT_TRUE(std::holds_alternative<AxisSim::SessionError>(tooLong));
    EXPECT_EQ(100001, std::get<AxisSim::SessionError>(tooLong).line);

    // A cut never splits a character: "é" is two bytes, the second would be the 1025th.
    auto accented = AxisSim::parseSession("keypad 0 Error 1 " + std::string(1023, 'a') + "\xC3\xA9" + "\n");
    EXPECT_EQ(std::string(1023, 'a'), parsedOk(accented).texts.at(0));
}

TEST(AxisSession, FileLargerThanTheLimit_ReportedAndNothingPlays) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    ASSERT_TRUE(length > 0 && length <= MAX_PATH);
    const std::wstring path = std::wstring(folder, length) + L"dravlo-size-" + std::to_wstring(GetCurrentProcessId());
    for (std::size_t size : {AxisSim::MaxSessionBytes, AxisSim::MaxSessionBytes + 1}) {
        std::string text = "keypad 0 ButtonDown 1\n";
        text.resize(size, '#');
        std::ofstream(std::string(path.begin(), path.end()), std::ios::binary) << text;
        AxisSim::CallLog log;
        const auto session = AxisSim::loadSession(path, log);
        const bool fits = size <= AxisSim::MaxSessionBytes;
        EXPECT_EQ(fits ? 1u : 0u, session->steps.size()) << size;
        EXPECT_EQ(fits ? 0u : 1u, log.count("AxisSimulator.Session:error " + std::string(path.begin(), path.end()) +
                                            ":0: too large: more than 1048576 bytes"));
    }
    DeleteFileW(path.c_str());
}

/// `text` as UTF-16 bytes with their byte-order mark.
std::string utf16(std::wstring_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t c : text) {
        const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

TEST(AxisSession, Utf16WithItsMark_IsRead) {  // what PowerShell 5's ">" writes, little-endian
    const std::vector<std::string> expected = {"wait 5", "Error(0,1,\"\xC3\xA9\")"};
    for (bool bigEndian : {false, true}) {
        auto parsed = AxisSim::parseSession(utf16(L"wait 5\r\nkeypad 0 Error 1 \u00E9\r\n", bigEndian));
        EXPECT_EQ(expected, played(parsedOk(parsed))) << "big-endian " << bigEndian;
    }
}

TEST(AxisSession, MalformedText_GivesLineAndReason) {
    const struct {
        std::string text;
        int line;
        const char* reason;
    } cases[] = {
        {"wait 10\nbeep 3\n", 2, "unknown command beep"},
        {"# c\n\nwait soon\n", 3, "milliseconds is not a number: soon"},
        {"wait 600001\n", 1, "milliseconds out of range 0..600000: 600001"},
        {"keypad 0 JogMove 1\n", 1, "keypad has no event JogMove"},
        {"jogdial 1 ButtonDown 1\n", 1, "no such device: 1"},
        {"jogdial 0 ButtonDown\n", 1, "missing value"},
        {"jogdial 0 ButtonDown 1 2\n", 1, "unexpected 2"},
        {"jogdial 0 JogMove +-5\n", 1, "value is not a number: +-5"},
        {"jogdial 0 ButtonUp 1\ndevices keypad 2\n", 2, "devices after the first event"},
        {"devices mouse 1\n", 1, "devices needs jogdial or keypad"},
        {"panel\npanel on\n", 2, "unexpected on"},
        {"devices keypad 17\n", 1, "device count out of range 0..16: 17"},
        {"wait 1\nrepeat 2\nwait 1\n", 2, "repeat without end"},
        {"end\n", 1, "end without repeat"},
        {"repeat 10000\nrepeat 10000\nwait 1\nend\nend\n", 5, "too large: more than 100000 steps once repeated"},
        {"repeat 2\n" + std::string(50000, 'k') + "\n", 2,
         "unknown command kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk..."},
        {std::string("\xEF\xBB\xBFwait 1\nwait 1\x01\x7F\xFF\xC3\xA9\0x\n", 24), 2,
         "milliseconds is not a number: 1\\x01\\x7F\\xFF\xC3\xA9\\x00x"},
        {std::string("w\0a\0i\0t\0", 8), 1, "UTF-16 text without a byte-order mark: save it as UTF-8"},
        {"\xFF\xFEw", 0, "UTF-16 text of an odd number of bytes"},
        {utf16(L"wait 1\n", false) + std::string("\x00\xDC", 2), 0, "UTF-16 text that is not valid UTF-16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        auto parsed = AxisSim::parseSession(c.text);
        ASSERT_TRUE(std::holds_alternative<AxisSim::SessionError>(parsed));
        EXPECT_EQ(c.line, std::get<AxisSim::SessionError>(parsed).line);
        EXPECT_EQ(c.reason, std::get<AxisSim::SessionError>(parsed).reason);
    }
}

}  // namespace
