// Registration of the simulated driver's class objects: in-process on an
// initialised apartment, and through the initialise spy for code that enters
// COM itself. Each test leaves the thread outside COM.

#include "simulator/AxisSimulator.h"

#include <gtest/gtest.h>

namespace {

using AxisSim::Kind;

HRESULT create(const CLSID& clsid) {
    IUnknown* object = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (object != nullptr) object->Release();
    return hr;
}

TEST(AxisRegistration, InProcess_RevokeEndsCreation) {
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    {
        AxisSim::Simulator sim;
        AxisSim::InProcessRegistration registration = sim.registerInProcess();
        EXPECT_EQ(S_OK, registration.result());
        EXPECT_EQ(S_OK, create(CLSID_AxisJogDial));
        EXPECT_EQ(S_OK, create(CLSID_AxisKeyPad));
        EXPECT_EQ(1, sim.collectionsCreated(Kind::KeyPad));
        registration.revoke();
        EXPECT_FALSE(registration.active());
        EXPECT_EQ(REGDB_E_CLASSNOTREG, create(CLSID_AxisJogDial));
        EXPECT_EQ(0, sim.liveObjects());
    }
    CoUninitialize();
}

TEST(AxisRegistration, Spy_RegistersForOutermostApartmentOnly) {
    AxisSim::Simulator sim;
    AxisSim::InitializeSpyRegistration spy = sim.registerOnInitialize();
    ASSERT_EQ(S_OK, spy.result());
    EXPECT_FALSE(spy.classesRegistered());

    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    EXPECT_TRUE(spy.classesRegistered());
    EXPECT_EQ(S_OK, create(CLSID_AxisJogDial));
    // A nested entry and exit keep the registration.
    EXPECT_EQ(S_FALSE, CoInitialize(nullptr));
    CoUninitialize();
    EXPECT_TRUE(spy.classesRegistered());
    EXPECT_EQ(S_OK, create(CLSID_AxisKeyPad));
    CoUninitialize();
    EXPECT_FALSE(spy.classesRegistered());

    // Entering again registers again.
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    EXPECT_EQ(S_OK, create(CLSID_AxisKeyPad));
    CoUninitialize();
    EXPECT_EQ(2, spy.registrations());
    EXPECT_EQ(0, sim.liveObjects());
}

TEST(AxisRegistration, Spy_NotRegisteredKindStaysUnknown) {
    AxisSim::Simulator sim;
    sim.config(Kind::JogDial).registered = false;
    AxisSim::InitializeSpyRegistration spy = sim.registerOnInitialize();
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, create(CLSID_AxisJogDial));
    EXPECT_EQ(S_OK, create(CLSID_AxisKeyPad));
    CoUninitialize();
}

}  // namespace
