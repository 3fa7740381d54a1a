// The driver's creation sequence (CoCreateInstance, OleRun, QueryInterface,
// release of the IUnknown) against the simulated driver, for both kinds, and
// the reason a failed one leaves for Java to read.

#include "com/AxisDriver.h"
#include "com/ComFailure.h"
#include "simulator/AxisSimulator.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using AxisSim::Kind;

struct JogDialCase {
    using Holder = IJogDialCollectionPtr;
    using Device = IJogDialDevice;
    static constexpr Kind kind = Kind::JogDial;
    static const CLSID& clsid() { return CLSID_AxisJogDial; }
    static std::string entry(const char* call) { return std::string("JogDialCollection.") + call; }
    static constexpr const char* queryEntry = "JogDialCollection.QueryInterface(IJogDialCollection)";
    static constexpr const wchar_t* object = L"the Axis jog dial object";
};

struct KeyPadCase {
    using Holder = IKeyPadCollectionPtr;
    using Device = IKeyPadDevice;
    static constexpr Kind kind = Kind::KeyPad;
    static const CLSID& clsid() { return CLSID_AxisKeyPad; }
    static std::string entry(const char* call) { return std::string("KeyPadCollection.") + call; }
    static constexpr const char* queryEntry = "KeyPadCollection.QueryInterface(IKeyPadCollection)";
    static constexpr const wchar_t* object = L"the Axis keypad object";
};

// Each test enters COM, registers the simulated driver after configuring it,
// and checks at the end that every simulated object has gone.
template <class Case>
class AxisCreation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        Dravlo::clearComFailure();
    }
    void TearDown() override {
        registration.revoke();
        EXPECT_EQ(0, sim.liveObjects()) << sim.log().dump();
        CoUninitialize();
    }
    void registerDriver() { registration = sim.registerInProcess(); }
    AxisSim::KindConfig& config() { return sim.config(Case::kind); }

    AxisSim::Simulator sim;
    AxisSim::InProcessRegistration registration;
};

struct CaseNames {
    template <class Case>
    static std::string GetName(int) {
        return Case::kind == Kind::JogDial ? "JogDial" : "KeyPad";
    }
};

using Cases = ::testing::Types<JogDialCase, KeyPadCase>;
TYPED_TEST_SUITE(AxisCreation, Cases, CaseNames);

TYPED_TEST(AxisCreation, Success_HolderKeepsTheOnlyReference) {
    this->config().deviceCount = 3;
    this->registerDriver();
    typename TypeParam::Holder holder;
    Dravlo::createAxisCollection(TypeParam::clsid(), holder);
    ASSERT_TRUE(holder);
    EXPECT_EQ(L"", Dravlo::describeComFailure());
    auto collection = this->sim.collection(TypeParam::kind);
    ASSERT_NE(nullptr, collection);
    // The IUnknown from CoCreateInstance has been given back.
    EXPECT_EQ(1, collection->refCount());
    EXPECT_TRUE(this->sim.log().inOrder({TypeParam::entry("Run"), TypeParam::queryEntry})) << this->sim.log().dump();

    int count = 0;
    holder->GetCount(&count);
    EXPECT_EQ(3, count);
    typename TypeParam::Device* device = nullptr;
    holder->GetItem(2, &device);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(2, this->sim.device(TypeParam::kind, 2)->refCount());
    device->Release();

    holder = nullptr;
    EXPECT_FALSE(collection->alive());
    EXPECT_EQ(1u, this->sim.log().count(TypeParam::entry("Release->0")));
}

TYPED_TEST(AxisCreation, ClassNotRegistered_HolderEmpty) {
    this->config().registered = false;
    this->registerDriver();
    IUnknown* unknown = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(TypeParam::clsid(), nullptr, CLSCTX_ALL, IID_IUnknown,
                                                    reinterpret_cast<void**>(&unknown)));
    typename TypeParam::Holder holder;
    Dravlo::createAxisCollection(TypeParam::clsid(), holder);
    EXPECT_FALSE(holder);
    EXPECT_EQ(0, this->sim.collectionsCreated(TypeParam::kind));
    EXPECT_EQ(std::wstring(L"creating ") + TypeParam::object + L": 0x80040154 Class not registered",
              Dravlo::describeComFailure());
}

TYPED_TEST(AxisCreation, RunFails_HolderEmptyAndObjectReleased) {
    this->config().runResult = E_FAIL;
    this->registerDriver();
    typename TypeParam::Holder holder;
    Dravlo::createAxisCollection(TypeParam::clsid(), holder);
    EXPECT_FALSE(holder);
    EXPECT_TRUE(this->sim.log().contains(TypeParam::entry("Run")));
    // OleRun failed, so the collection interface is never asked for.
    EXPECT_FALSE(this->sim.log().contains(TypeParam::queryEntry)) << this->sim.log().dump();
    ASSERT_EQ(1, this->sim.collectionsCreated(TypeParam::kind));
    EXPECT_FALSE(this->sim.collection(TypeParam::kind)->alive());
    EXPECT_EQ(std::wstring(L"running ") + TypeParam::object + L": 0x80004005 Unspecified error",
              Dravlo::describeComFailure());
}

TYPED_TEST(AxisCreation, NoCollectionInterface_HolderEmptyAndObjectReleased) {
    this->config().collectionInterface = false;
    this->config().deviceCount = 2;
    this->registerDriver();
    typename TypeParam::Holder holder;
    Dravlo::createAxisCollection(TypeParam::clsid(), holder);
    EXPECT_FALSE(holder);
    EXPECT_TRUE(this->sim.log().inOrder({TypeParam::entry("Run"), TypeParam::queryEntry}));
    EXPECT_FALSE(this->sim.collection(TypeParam::kind)->alive());
    EXPECT_FALSE(this->sim.device(TypeParam::kind, 1)->alive());
    EXPECT_EQ(
        std::wstring(L"asking ") + TypeParam::object + L" for its collection: 0x80004002 No such interface supported",
        Dravlo::describeComFailure());
}

TYPED_TEST(AxisCreation, CreateAxisObject_WrongClass_ReturnsNull) {
    this->registerDriver();
    // The jog dial class has no keypad collection interface and vice versa.
    const CLSID& other = TypeParam::kind == Kind::JogDial ? CLSID_AxisKeyPad : CLSID_AxisJogDial;
    const Dravlo::ComRef<IUnknown> object = Dravlo::createAxisObject(
        other, TypeParam::kind == Kind::JogDial ? __uuidof(IJogDialCollection) : __uuidof(IKeyPadCollection));
    EXPECT_EQ(nullptr, object.get());
}

TYPED_TEST(AxisCreation, EmptyHolder_CallsRaiseEPointer) {
    this->config().collectionInterface = false;
    this->registerDriver();
    typename TypeParam::Holder holder;
    Dravlo::createAxisCollection(TypeParam::clsid(), holder);
    int count = 0;
    try {
        holder->GetCount(&count);
        ADD_FAILURE() << "GetCount through an empty holder did not throw";
    } catch (_com_error& error) {
        EXPECT_EQ(E_POINTER, error.Error());
    }
    try {
        holder.Release();
        ADD_FAILURE() << "Release of an empty holder did not throw";
    } catch (_com_error& error) {
        EXPECT_EQ(E_POINTER, error.Error());
    }
}

TYPED_TEST(AxisCreation, TwoCreations_MakeIndependentObjects) {
    this->registerDriver();
    typename TypeParam::Holder first, second;
    Dravlo::createAxisCollection(TypeParam::clsid(), first);
    auto firstProbe = this->sim.collection(TypeParam::kind);
    Dravlo::createAxisCollection(TypeParam::clsid(), second);
    ASSERT_TRUE(first && second);
    EXPECT_NE(static_cast<void*>(first.GetInterfacePtr()), static_cast<void*>(second.GetInterfacePtr()));
    first = nullptr;
    EXPECT_FALSE(firstProbe->alive());
    EXPECT_TRUE(this->sim.collection(TypeParam::kind)->alive());
}

}  // namespace
