// The sinks as COM objects: interfaces, reference counting with the module
// lock, GetIDsOfNames and type information; and the stateless helpers.

#include "tests/com/SinkTestSupport.h"

#include <ocidl.h>

#include <atomic>
#include <thread>

#include "com/SinkSupport.h"

namespace {

using namespace SinkTests;
using Dravlo::__Impl__IAxisJogDialEvents;
using Dravlo::__Impl__IAxisKeyPadEvents;
using Dravlo::ComRef;

class SinkObject : public SinkFixture {
protected:
    RecordingReceiver receiver;
    FakeNode node;
};

TEST_F(SinkObject, QueryInterface_AnswersUnknownDispatchAndItsDiidOnly) {
    auto sink = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &DIID__IAxisKeyPadEvents}) {
        void* object = nullptr;
        ASSERT_EQ(S_OK, sink->QueryInterface(*iid, &object));
        EXPECT_EQ(static_cast<IDispatch*>(sink.get()), object);
        EXPECT_EQ(1u, sink->Release());  // the reference the query added
    }
    for (const IID* iid : {&IID_IConnectionPoint, &DIID__IAxisJogDialEvents, &IID_IConnectionPointContainer}) {
        void* object = reinterpret_cast<void*>(0xDEADBEEF);
        EXPECT_EQ(E_NOINTERFACE, sink->QueryInterface(*iid, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(E_POINTER, sink->QueryInterface(IID_IUnknown, nullptr));
}

TEST_F(SinkObject, EveryLiveSink_HoldsOneModuleLock) {
    Dravlo::CComObject<__Impl__IAxisJogDialEvents>* first = nullptr;
    Dravlo::CComObject<__Impl__IAxisKeyPadEvents>* second = nullptr;
    ASSERT_EQ(S_OK, Dravlo::CComObject<__Impl__IAxisJogDialEvents>::CreateInstance(&first));
    EXPECT_EQ(1, lockCount());
    ASSERT_EQ(S_OK, Dravlo::CComObject<__Impl__IAxisKeyPadEvents>::CreateInstance(&second));
    EXPECT_EQ(2, lockCount());
    EXPECT_EQ(1u, first->AddRef());
    EXPECT_EQ(2u, first->AddRef());
    EXPECT_EQ(1u, first->Release());
    EXPECT_EQ(2, lockCount());
    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(1, lockCount());
    second->AddRef();
    EXPECT_EQ(0u, second->Release());
    EXPECT_EQ(E_POINTER, Dravlo::CComObject<__Impl__IAxisKeyPadEvents>::CreateInstance(nullptr));
}

TEST_F(SinkObject, CountChangedFromManyThreads_StaysBalanced) {
    auto sink = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                sink->AddRef();
                sink->Release();
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(2u, sink->AddRef());
    EXPECT_EQ(1u, sink->Release());
    EXPECT_EQ(1, lockCount());
}

// The names of both tables as the dispinterfaces define them.
struct NameCase {
    const wchar_t* name;
    DISPID jogDial;  // DISPID_UNKNOWN: unknown on that sink
    DISPID keyPad;
};
const NameCase nameCases[] = {
    {L"jogDialId", 0, DISPID_UNKNOWN},
    {L"keyPadId", DISPID_UNKNOWN, 0},
    {L"buttonIndex", 1, 1},
    {L"ButtonDown", 1, 1},
    {L"ButtonUp", 2, 2},
    {L"DialState", 1, DISPID_UNKNOWN},
    {L"ShuttleMove", 3, DISPID_UNKNOWN},
    {L"joggState", 1, DISPID_UNKNOWN},
    {L"JogMove", 4, DISPID_UNKNOWN},
    {L"errorCode", 1, 1},
    {L"errorInfo", 2, 2},
    {L"Error", 5, 5},
    {L"BUTTONDOWN", 1, 1},
    {L"error", 5, 5},
    {L"JOGMOVE", 4, DISPID_UNKNOWN},
    {L"Button", DISPID_UNKNOWN, DISPID_UNKNOWN},
    {L"", DISPID_UNKNOWN, DISPID_UNKNOWN},
};

DISPID lookUp(IDispatch* sink, const wchar_t* name) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0x5EED;
    HRESULT hr = sink->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr == DISP_E_UNKNOWNNAME) {
        EXPECT_EQ(0x5EED, id) << "unknown name wrote its entry";
        return DISPID_UNKNOWN;
    }
    EXPECT_EQ(S_OK, hr);
    return id;
}

TEST_F(SinkObject, GetIDsOfNames_MatchesWithoutCase) {
    auto jogDial = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    auto keyPad = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    for (const NameCase& c : nameCases) {
        const std::string name(c.name, c.name + wcslen(c.name));
        EXPECT_EQ(c.jogDial, lookUp(jogDial.get(), c.name)) << name;
        EXPECT_EQ(c.keyPad, lookUp(keyPad.get(), c.name)) << name;
    }
}

TEST_F(SinkObject, GetIDsOfNames_StopsAtFirstUnknownName) {
    auto sink = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    LPOLESTR names[4] = {const_cast<LPOLESTR>(L"JogMove"), const_cast<LPOLESTR>(L"errorInfo"),
                         const_cast<LPOLESTR>(L"Nope"), const_cast<LPOLESTR>(L"Error")};
    DISPID ids[4] = {-100, -100, -100, -100};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, sink->GetIDsOfNames(IID_NULL, names, 4, 0, ids));
    EXPECT_EQ(4, ids[0]);
    EXPECT_EQ(2, ids[1]);
    EXPECT_EQ(-100, ids[2]);
    EXPECT_EQ(-100, ids[3]);
    LPOLESTR withNull[2] = {const_cast<LPOLESTR>(L"Error"), nullptr};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, sink->GetIDsOfNames(IID_NULL, withNull, 2, 0, ids));
    EXPECT_EQ(5, ids[0]);
}

TEST_F(SinkObject, GetIDsOfNames_NullArraysRefusedUnlessEmpty) {
    auto sink = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    LPOLESTR names[1] = {const_cast<LPOLESTR>(L"Error")};
    DISPID id = -100;
    EXPECT_EQ(E_INVALIDARG, sink->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id));
    EXPECT_EQ(E_INVALIDARG, sink->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr));
    EXPECT_EQ(S_OK, sink->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr));
    EXPECT_EQ(-100, id);
}

TEST_F(SinkObject, TypeInfo_IsTheDispinterfaceOfTheSink) {
    auto jogDial = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    auto keyPad = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    for (auto [sink, diid] : {std::pair<IDispatch*, const IID*>{jogDial.get(), &DIID__IAxisJogDialEvents},
                              std::pair<IDispatch*, const IID*>{keyPad.get(), &DIID__IAxisKeyPadEvents}}) {
        UINT count = 7;
        EXPECT_EQ(S_OK, sink->GetTypeInfoCount(&count));
        EXPECT_EQ(1u, count);
        ComRef<ITypeInfo> info;
        ASSERT_EQ(S_OK, sink->GetTypeInfo(0, 0x0409, info.put()));
        ASSERT_TRUE(info);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
        EXPECT_TRUE(IsEqualGUID(*diid, attributes->guid));
        EXPECT_EQ(TKIND_DISPATCH, attributes->typekind);
        info->ReleaseTypeAttr(attributes);
        // The sinks hold their library: the last answer released never frees it (see SinkSupport.cpp).
        ITypeLib* library = nullptr;
        UINT index = 0;
        ASSERT_EQ(S_OK, info->GetContainingTypeLib(&library, &index));
        info.reset();
        EXPECT_LT(0u, library->Release());
    }
}

// Devices ask for type information as they connect, on as many threads as
// there are drivers; each answer's last Release must never meet another
// thread's load of the same library.
TEST_F(SinkObject, TypeInfo_AskedOnManyThreadsAtOnce_EveryAnswerIsRight) {
    auto jogDial = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    auto keyPad = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    constexpr int threadCount = 8, rounds = 300;
    std::atomic<int> right{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            IDispatch* sink = t % 2 == 0 ? jogDial.get() : keyPad.get();
            const IID& diid = t % 2 == 0 ? DIID__IAxisJogDialEvents : DIID__IAxisKeyPadEvents;
            for (int i = 0; i < rounds; ++i) {
                UINT count = 0;
                ComRef<ITypeInfo> info;
                TYPEATTR* attributes = nullptr;
                if (FAILED(sink->GetTypeInfoCount(&count)) || count != 1 ||
                    FAILED(sink->GetTypeInfo(0, 0, info.put())) || FAILED(info->GetTypeAttr(&attributes)))
                    continue;
                if (IsEqualGUID(diid, attributes->guid)) ++right;
                info->ReleaseTypeAttr(attributes);
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(threadCount * rounds, right.load());
}

TEST_F(SinkObject, TypeInfo_RefusesBadArguments) {
    auto sink = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    EXPECT_EQ(E_POINTER, sink->GetTypeInfoCount(nullptr));
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0xDEADBEEF);
    EXPECT_EQ(DISP_E_BADINDEX, sink->GetTypeInfo(1, 0, &info));
    EXPECT_EQ(reinterpret_cast<ITypeInfo*>(0xDEADBEEF), info);
    EXPECT_EQ(E_POINTER, sink->GetTypeInfo(0, 0, nullptr));
    EXPECT_EQ(E_POINTER, Dravlo::loadEventTypeInfo(DIID__IAxisKeyPadEvents, nullptr));
}

class SinkHelpers : public SinkObject {};

TEST_F(SinkHelpers, SameObject_ComparesIdentities) {
    ComRef<IUnknown> device, other;
    ASSERT_EQ(S_OK, sim.createDevice(AxisSim::Kind::JogDial, 0, device.put()));
    ASSERT_EQ(S_OK, sim.createDevice(AxisSim::Kind::JogDial, 1, other.put()));
    ComRef<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, device->QueryInterface(IID_IConnectionPointContainer, container.putVoid()));
    EXPECT_TRUE(Dravlo::sameObject(nullptr, nullptr));
    EXPECT_FALSE(Dravlo::sameObject(device.get(), nullptr));
    EXPECT_FALSE(Dravlo::sameObject(nullptr, device.get()));
    EXPECT_TRUE(Dravlo::sameObject(device.get(), device.get()));
    EXPECT_TRUE(Dravlo::sameObject(container.get(), device.get()));
    EXPECT_FALSE(Dravlo::sameObject(device.get(), other.get()));
}

TEST_F(SinkHelpers, AdviseAndUnadvise_ConnectThroughTheContainer) {
    auto sink = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    ComRef<IUnknown> device;
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    ASSERT_EQ(S_OK, sim.createDevice(AxisSim::Kind::KeyPad, 0, device.put(), &probe));
    DWORD cookie = 0;
    EXPECT_EQ(E_INVALIDARG, Dravlo::adviseSink(nullptr, sink.get(), DIID__IAxisKeyPadEvents, &cookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, Dravlo::adviseSink(device.get(), sink.get(), DIID__IAxisJogDialEvents, &cookie));
    EXPECT_EQ(0u, cookie);
    ASSERT_EQ(S_OK, Dravlo::adviseSink(device.get(), sink.get(), DIID__IAxisKeyPadEvents, &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(1u, probe->sinkCount());
    EXPECT_EQ(E_INVALIDARG, Dravlo::unadviseSink(nullptr, DIID__IAxisKeyPadEvents, cookie));
    EXPECT_EQ(S_OK, Dravlo::unadviseSink(device.get(), DIID__IAxisKeyPadEvents, cookie));
    EXPECT_EQ(0u, probe->sinkCount());
    EXPECT_EQ(1u, sink->AddRef() - 1);  // the connection point gave its reference back
    sink->Release();
}

TEST_F(SinkHelpers, Advise_FailuresOfTheSourceAreReturned) {
    auto sink = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    sim.config(AxisSim::Kind::JogDial).connectionPointContainer = false;
    ComRef<IUnknown> device;
    ASSERT_EQ(S_OK, sim.createDevice(AxisSim::Kind::JogDial, 0, device.put()));
    DWORD cookie = 0;
    EXPECT_EQ(E_NOINTERFACE, Dravlo::adviseSink(device.get(), sink.get(), DIID__IAxisJogDialEvents, &cookie));
    EXPECT_EQ(E_NOINTERFACE, Dravlo::unadviseSink(device.get(), DIID__IAxisJogDialEvents, 1));
    sim.config(AxisSim::Kind::JogDial).connectionPointContainer = true;
    sim.config(AxisSim::Kind::JogDial).adviseResult = CONNECT_E_ADVISELIMIT;
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, Dravlo::adviseSink(device.get(), sink.get(), DIID__IAxisJogDialEvents, &cookie));
    EXPECT_EQ(0u, cookie);
}

}  // namespace
