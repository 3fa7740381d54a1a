// IDispatch::Invoke of the two sinks, called directly: argument slots, named
// arguments, coercion, the checks that keep malformed input from being read,
// and what reaches the receiver's dispatch.

#include "tests/com/SinkTestSupport.h"

namespace {

using namespace SinkTests;
using Dravlo::__Impl__IAxisJogDialEvents;
using Dravlo::__Impl__IAxisKeyPadEvents;

class SinkInvoke : public SinkFixture {
protected:
    RecordingReceiver receiver;
    FakeNode node;
};

TEST_F(SinkInvoke, FourArguments_ReturnBadParamCountWhateverTheDispid) {
    auto jogDial = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    auto keyPad = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    for (DISPID member : {1, 3, 5, 0, 42}) {
        for (IDispatch* sink : {static_cast<IDispatch*>(jogDial.get()), static_cast<IDispatch*>(keyPad.get())}) {
            VARIANT result;
            V_VT(&result) = VT_I4;
            V_I4(&result) = 0x0BADF00D;
            EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(sink, member, {1L, 2L, 3L, 4L}, nullptr, &result)) << member;
            EXPECT_EQ(VT_I4, V_VT(&result)) << "result touched before the count was checked";
        }
    }
    EXPECT_TRUE(receiver.calls().empty());
}

TEST_F(SinkInvoke, DispidOutsideTable_ReturnsMemberNotFound) {
    auto keyPad = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    auto jogDial = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, invoke(keyPad.get(), 3, {1L, 2L}));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, invoke(keyPad.get(), 4, {1L, 2L}));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, invoke(jogDial.get(), 0, {1L, 2L}));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, invoke(jogDial.get(), 6, {1L, 2L}));
    EXPECT_TRUE(receiver.calls().empty());
    // On the jog dial DISPID 3 is ShuttleMove, event index 2.
    EXPECT_EQ(S_OK, invoke(jogDial.get(), 3, {1L, -7L}));
    EXPECT_EQ((std::vector<Dispatched>{{12, 1, -7, std::nullopt}}), receiver.calls());
}

TEST_F(SinkInvoke, CountNotMatchingEvent_ReturnsBadParamCount) {
    auto jogDial = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(jogDial.get(), 1, {1L, 2L, 3L}));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(jogDial.get(), 4, {1L}));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(jogDial.get(), 5, {1L, 2L}));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(jogDial.get(), 2, {}));
    EXPECT_TRUE(receiver.calls().empty());
}

TEST_F(SinkInvoke, EachEvent_ReachesDispatchWithItsNodeCode) {
    auto jogDial = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    auto keyPad = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    VARIANT result;
    V_VT(&result) = VT_I4;
    EXPECT_EQ(S_OK, invoke(jogDial.get(), 1, {1L, 3L}, nullptr, &result));
    EXPECT_EQ(VT_EMPTY, V_VT(&result));
    EXPECT_EQ(S_OK, invoke(jogDial.get(), 2, {1L, 4L}));
    EXPECT_EQ(S_OK, invoke(jogDial.get(), 4, {2L, -1L}));
    EXPECT_EQ(S_OK, invoke(jogDial.get(), 5, {2L, 77L, _variant_t(L"jammed")}));
    EXPECT_EQ(S_OK, invoke(keyPad.get(), 2, {9L, 8L}));
    EXPECT_EQ(S_OK, invoke(keyPad.get(), 5, {9L, 6L, _variant_t(L"")}));
    const std::vector<Dispatched> expected = {
        {10, 1, 3, std::nullopt}, {11, 1, 4, std::nullopt}, {13, 2, -1, std::nullopt},
        {14, 2, 77, L"jammed"},   {11, 9, 8, std::nullopt}, {12, 9, 6, L""},
    };
    EXPECT_EQ(expected, receiver.calls());
}

TEST_F(SinkInvoke, OtherTypes_AreCoercedAndCallerVariantsKept) {
    auto sink = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    _variant_t digits(L"12");
    _variant_t small(static_cast<short>(-3));
    EXPECT_EQ(S_OK, invoke(sink.get(), 1, {digits, small}));
    long referenced = 21;
    VARIANT byRef;
    V_VT(&byRef) = VT_I4 | VT_BYREF;
    V_I4REF(&byRef) = &referenced;
    EXPECT_EQ(S_OK, invoke(sink.get(), 5, {_variant_t(byRef), 2.0, 404L}));
    const std::vector<Dispatched> expected = {{10, 12, -3, std::nullopt}, {14, 21, 2, L"404"}};
    EXPECT_EQ(expected, receiver.calls());
    EXPECT_EQ(VT_BSTR, V_VT(&digits));
    EXPECT_STREQ(L"12", V_BSTR(&digits));
    EXPECT_EQ(VT_I2, V_VT(&small));
}

TEST_F(SinkInvoke, UnconvertibleArgument_GivesTypeMismatchNamingItsArgument) {
    auto sink = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    struct Case {
        DISPID member;
        std::vector<_variant_t> args;
        UINT slot;
    };
    VARIANT nowhere;  // an int by reference with nothing to read
    V_VT(&nowhere) = VT_I4 | VT_BYREF;
    V_I4REF(&nowhere) = nullptr;
    const Case cases[] = {
        {1, {_variant_t(L"x"), 2L}, 1},
        {1, {1L, _variant_t(L"x")}, 0},
        {4, {_variant_t(nowhere), 2L}, 1},
        {5, {_variant_t(L"x"), 2L, _variant_t(L"info")}, 2},
        {5, {1L, _variant_t(L"y"), _variant_t(L"info")}, 1},
    };
    for (const Case& c : cases) {
        UINT argumentError = 0xDEADBEEF;
        EXPECT_EQ(DISP_E_TYPEMISMATCH, invoke(sink.get(), c.member, c.args, &argumentError));
        EXPECT_EQ(c.slot, argumentError);
        EXPECT_EQ(DISP_E_TYPEMISMATCH, invoke(sink.get(), c.member, c.args, nullptr));
    }
    // A named argument is named by its index in rgvarg, not by its slot.
    _variant_t named[2] = {_variant_t(L"x"), _variant_t(2L)};  // jogDialId, buttonIndex
    DISPID positions[2] = {0, 1};
    DISPPARAMS params{named, positions, 2, 2};
    UINT argumentError = 0xDEADBEEF;
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &argumentError));
    EXPECT_EQ(0u, argumentError);
    EXPECT_TRUE(receiver.calls().empty());
    UINT untouched = 0xDEADBEEF;
    EXPECT_EQ(S_OK, invoke(sink.get(), 1, {1L, 2L}, &untouched));
    EXPECT_EQ(0xDEADBEEFu, untouched);
}

TEST_F(SinkInvoke, NamedArguments_GoToTheirPositions) {
    auto sink = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    VARIANTARG args[2];
    V_VT(&args[0]) = VT_I4, V_I4(&args[0]) = 7;  // named position 1: buttonIndex
    V_VT(&args[1]) = VT_I4, V_I4(&args[1]) = 3;  // named position 0: jogDialId
    DISPID names[2] = {1, 0};
    DISPPARAMS params{args, names, 2, 2};
    EXPECT_EQ(S_OK, sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    // A leading DISPID_PROPERTYPUT takes the last position; the rest stay positional.
    DISPID put[1] = {DISPID_PROPERTYPUT};
    DISPPARAMS putParams{args, put, 2, 1};
    EXPECT_EQ(S_OK, sink->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYPUT, &putParams, nullptr, nullptr, nullptr));
    const std::vector<Dispatched> expected = {{10, 3, 7, std::nullopt}, {11, 3, 7, std::nullopt}};
    EXPECT_EQ(expected, receiver.calls());
}

TEST_F(SinkInvoke, BadNamedArguments_ReturnParamNotFound) {
    auto sink = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    VARIANTARG args[2];
    V_VT(&args[0]) = VT_I4, V_I4(&args[0]) = 7;
    V_VT(&args[1]) = VT_I4, V_I4(&args[1]) = 3;
    for (DISPID wrong : {2, -1, -5}) {
        DISPID names[2] = {0, wrong};
        DISPPARAMS params{args, names, 2, 2};
        UINT argumentError = 0xDEADBEEF;
        EXPECT_EQ(DISP_E_PARAMNOTFOUND,
                  sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &argumentError));
        EXPECT_EQ(1u, argumentError) << wrong;
    }
    // Two values for one position leave the other without any.
    DISPID twice[2] = {1, 1};
    DISPPARAMS params{args, twice, 2, 2};
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_TRUE(receiver.calls().empty());
}

TEST_F(SinkInvoke, MalformedParameterBlock_RefusedWithoutDispatch) {
    auto sink = makeSink<__Impl__IAxisKeyPadEvents>(receiver, node);
    EXPECT_EQ(DISP_E_BADVARTYPE, sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr));
    VARIANTARG args[2];
    V_VT(&args[0]) = VT_I4, V_I4(&args[0]) = 1;
    V_VT(&args[1]) = VT_I4, V_I4(&args[1]) = 2;
    DISPID names[3] = {0, 1, 0};
    const DISPPARAMS malformed[] = {
        {nullptr, nullptr, 2, 0},  // no arguments behind a count of 2
        {args, names, 1, 3},       // more names than arguments
        {args, nullptr, 2, 1},     // a named count without names
    };
    for (DISPPARAMS params : malformed) {
        HRESULT hr = sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        EXPECT_TRUE(hr == E_INVALIDARG || hr == DISP_E_BADPARAMCOUNT) << std::hex << hr;
    }
    EXPECT_TRUE(receiver.calls().empty());
}

TEST_F(SinkInvoke, ThrowingReceiver_DropsEventWithDispException) {
    receiver.throwOnDispatch = true;
    auto sink = makeSink<__Impl__IAxisJogDialEvents>(receiver, node);
    EXCEPINFO exception{};
    exception.wCode = 0x1234;
    EXPECT_EQ(DISP_E_EXCEPTION, invoke(sink.get(), 4, {1L, 2L}, nullptr, nullptr, &exception));
    EXPECT_EQ(0, exception.wCode);
    EXPECT_TRUE(FAILED(exception.scode));
    EXPECT_EQ(DISP_E_EXCEPTION, invoke(sink.get(), 5, {1L, 2L, _variant_t(L"x")}));
    EXPECT_EQ(2u, receiver.calls().size());
}

}  // namespace
