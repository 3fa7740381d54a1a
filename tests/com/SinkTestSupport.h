#pragma once
// Shared by the sink and eventing tests: a receiver that records what its
// dispatch gets, a stand-in connection node with settable codes, a helper that
// invokes a sink the way a COM source does, and the fixture that checks the
// balances (module lock count, simulated objects) after every test.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "com/ComEventing.h"
#include "com/DravloModule.h"
#include "com/EventSink.h"
#include "simulator/AxisSimulator.h"

namespace SinkTests {

/// One call of dispatch as the receiver saw it.
struct Dispatched {
    int code;
    int first;
    int second;
    std::optional<std::wstring> errorInfo;  // absent when the BSTR was null

    bool operator==(const Dispatched&) const = default;
};

inline void PrintTo(const Dispatched& d, std::ostream* os) {
    *os << "{code " << d.code << ", " << d.first << ", " << d.second;
    if (d.errorInfo) *os << ", \"" << std::string(d.errorInfo->begin(), d.errorInfo->end()) << "\"";
    *os << "}";
}

/// Every dispatch appended to one shared, thread-safe record, so a test can
/// still read it after the receiver is gone.
class DispatchLog {
public:
    void add(Dispatched d) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(d));
    }
    std::vector<Dispatched> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Dispatched> calls_;
};

/// A receiver for the eventing base: records every dispatch, optionally throws.
class RecordingReceiver : public Dravlo::__ComEventingImpl<RecordingReceiver> {
public:
    explicit RecordingReceiver(std::shared_ptr<DispatchLog> log = std::make_shared<DispatchLog>())
        : log_(std::move(log)) {}
    ~RecordingReceiver() = default;

    HRESULT dispatch(int code, int first, int second, BSTR errorInfo) override {
        std::optional<std::wstring> info;
        if (errorInfo != nullptr) info.emplace(errorInfo, SysStringLen(errorInfo));
        log_->add({code, first, second, std::move(info)});
        if (throwOnDispatch) throw std::runtime_error("receiver failed");
        return S_OK;
    }

    std::vector<Dispatched> calls() const { return log_->calls(); }
    void clearCalls() { log_->clear(); }

    bool throwOnDispatch = false;

private:
    std::shared_ptr<DispatchLog> log_;
};

/// A connection node stand-in for sinks made directly by a test.
class FakeNode : public Dravlo::__EventHandlerNodeProxy {
public:
    int dispatchCodeOf(int eventIndex) const noexcept override {
        return eventIndex >= 0 && eventIndex < 5 ? codes[eventIndex] : Dravlo::NoDispatchCode;
    }
    int codes[5] = {10, 11, 12, 13, 14};
};

/// A caller's object passed in a VT_DISPATCH or VT_UNKNOWN argument: its
/// default property (DISPID_VALUE, get) is `value`. Lives on the test's stack;
/// `references()` lets a test prove that every AddRef was given back.
class ValueObject : public IDispatch {
public:
    explicit ValueObject(LONG value) noexcept : value_(value) {}
    LONG references() const noexcept { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&references_)); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count != nullptr) *count = 0;
        return count != nullptr ? S_OK : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (member != DISPID_VALUE || (flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
        if (result == nullptr) return E_INVALIDARG;
        V_VT(result) = VT_I4;
        V_I4(result) = value_;
        return S_OK;
    }

private:
    LONG value_;
    LONG references_ = 1;  // the test's own
};

/// A sink of class `Sink`, attached to `receiver` and `node`; one reference.
template <class Sink>
Dravlo::ComRef<Dravlo::EventSink> makeSink(RecordingReceiver& receiver, FakeNode& node) {
    Dravlo::CComObject<Sink>* made = nullptr;
    EXPECT_EQ(S_OK, Dravlo::CComObject<Sink>::CreateInstance(&made));
    auto sink = Dravlo::ComRef<Dravlo::EventSink>::copy(made);
    if (sink) sink->attach(&receiver, &node, receiver.rundown());
    return sink;
}

/// Invokes `member` with positional arguments given first to last (passed last
/// one first, as COM sources do).
inline HRESULT invoke(IDispatch* sink, DISPID member, std::vector<_variant_t> inOrder, UINT* argumentError = nullptr,
                      VARIANT* result = nullptr, EXCEPINFO* exception = nullptr) {
    std::vector<_variant_t> reversed(inOrder.rbegin(), inOrder.rend());
    DISPPARAMS params{};
    params.rgvarg = reversed.empty() ? nullptr : static_cast<VARIANTARG*>(&reversed[0]);
    params.cArgs = static_cast<UINT>(reversed.size());
    return sink->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, exception,
                        argumentError);
}

/// The module object the sinks lock: the program's own when it links one,
/// otherwise one made for the tests.
inline Dravlo::CAtlModule& module() {
    if (Dravlo::CAtlModule* current = Dravlo::currentModule()) return *current;
    static Dravlo::CDravloDriverModule fallback;
    return fallback;
}

/// Enters COM for each test; afterwards no sink may be alive (module lock
/// count 0) and no simulated object either.
class SinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        ASSERT_EQ(0, module().GetLockCount());
    }
    void TearDown() override {
        EXPECT_EQ(0, module().GetLockCount()) << "a sink outlived its test";
        EXPECT_EQ(0, sim.liveObjects()) << sim.log().dump();
        CoUninitialize();
    }
    long lockCount() { return module().GetLockCount(); }

    AxisSim::Simulator sim;
};

}  // namespace SinkTests
