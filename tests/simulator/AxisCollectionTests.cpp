// The simulated collections: counts, items, ownership of the devices and the
// injected faults of GetCount and GetItem. Objects are made straight from the
// simulator, without COM registration.

#include "simulator/AxisSimulator.h"

#include <gtest/gtest.h>

namespace {

using AxisSim::Kind;

class AxisSimulatorCollection : public ::testing::Test {
protected:
    IKeyPadCollection* makeKeyPads(int devices) {
        sim.config(Kind::KeyPad).deviceCount = devices;
        IKeyPadCollection* collection = nullptr;
        EXPECT_EQ(S_OK, sim.createDriverObject(Kind::KeyPad, __uuidof(IKeyPadCollection),
                                               reinterpret_cast<void**>(&collection)));
        return collection;
    }
    void TearDown() override { EXPECT_EQ(0, sim.liveObjects()) << sim.log().dump(); }

    AxisSim::Simulator sim;
};

TEST_F(AxisSimulatorCollection, Items_AreAddRefdAndOutliveTheCollection) {
    IKeyPadCollection* collection = makeKeyPads(3);
    ASSERT_NE(nullptr, collection);
    EXPECT_EQ(7, sim.liveObjects());  // the collection, 3 devices, 3 connection points
    IKeyPadDevice* device = nullptr;
    ASSERT_EQ(S_OK, collection->GetItem(1, &device));
    auto probe = sim.keyPadDevice(1);
    EXPECT_EQ(2, probe->refCount());
    collection->Release();
    EXPECT_TRUE(probe->alive());
    EXPECT_FALSE(sim.keyPadDevice(0)->alive());

    device->SetBacklight(5, 1);
    device->Stop();
    device->Release();
    EXPECT_TRUE(
        sim.log().inOrder({"KeyPadCollection.GetItem(1)", "KeyPadCollection.Release->0",
                           "KeyPadDevice#1.SetBacklight(5,1)", "KeyPadDevice#1.Stop", "KeyPadDevice#1.Release->0"}))
        << sim.log().dump();
    EXPECT_FALSE(sim.log().inOrder({"KeyPadDevice#1.Release->0", "KeyPadCollection.Release->0"}));
}

TEST_F(AxisSimulatorCollection, NoDevices_CountZeroAndItemNull) {
    IKeyPadCollection* collection = makeKeyPads(0);
    int count = -1;
    EXPECT_EQ(S_OK, collection->GetCount(&count));
    EXPECT_EQ(0, count);
    IKeyPadDevice* device = reinterpret_cast<IKeyPadDevice*>(1);
    EXPECT_EQ(E_INVALIDARG, collection->GetItem(0, &device));
    EXPECT_EQ(nullptr, device);
    collection->Release();
}

TEST_F(AxisSimulatorCollection, Faults_GetCountUnwrittenGetItemNull) {
    IKeyPadCollection* collection = makeKeyPads(2);
    sim.config(Kind::KeyPad).getCountResult = E_FAIL;
    int count = -7;
    EXPECT_EQ(E_FAIL, collection->GetCount(&count));
    EXPECT_EQ(-7, count);

    sim.config(Kind::KeyPad).getItemNull = true;
    sim.config(Kind::KeyPad).getItemNullResult = S_FALSE;
    IKeyPadDevice* device = reinterpret_cast<IKeyPadDevice*>(1);
    EXPECT_EQ(S_FALSE, collection->GetItem(0, &device));
    EXPECT_EQ(nullptr, device);
    EXPECT_EQ(1, sim.keyPadDevice(0)->refCount());
    collection->Release();
}

TEST_F(AxisSimulatorCollection, NotRegistered_NothingMade) {
    sim.config(Kind::JogDial).registered = false;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, sim.createDriverObject(Kind::JogDial, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, sim.collectionsCreated(Kind::JogDial));
}

TEST(AxisSimulatorLog, InOrder_RejectsWrongOrderAndRepeats) {
    AxisSim::CallLog log;
    for (const char* entry : {"a", "b", "a", "c"}) log.add(entry);
    EXPECT_TRUE(log.inOrder({"a", "b", "c"}));
    EXPECT_TRUE(log.inOrder({"b", "a"}));
    EXPECT_FALSE(log.inOrder({"c", "a"}));
    EXPECT_FALSE(log.inOrder({"b", "b"}));
    EXPECT_EQ(2u, log.count("a"));
    EXPECT_EQ(2, log.indexOf("a", 1));
    EXPECT_EQ(-1, log.indexOf("d"));
}

}  // namespace
