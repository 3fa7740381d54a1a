// A seeded fuzz of both sinks' Invoke and GetIDsOfNames. Every case is checked
// against an oracle written from the sinks' rules (not from their helpers): the
// result, puArgErr, what reaches dispatch, and the caller's arguments left as
// they were. DRAVLO_FUZZ_SEED replays a run; DRAVLO_FUZZ_CASES sets how many
// cases each test runs.

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "tests/com/SinkTestSupport.h"

namespace {

using namespace SinkTests;
using Dravlo::SinkTable;

static_assert(sizeof(_variant_t) == sizeof(VARIANT), "arguments are passed as an array of _variant_t");

constexpr unsigned DefaultCases = 4000;
constexpr unsigned MaxReportedCases = 10;
constexpr UINT Sentinel = 0xDEADBEEF;
constexpr LONG ObjectValue = 73;

unsigned long long fromEnvironment(const char* name, unsigned long long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

// One seed per process, so both tests replay from the one printed value.
unsigned long long runSeed() {
    static const unsigned long long seed = fromEnvironment(
        "DRAVLO_FUZZ_SEED", (static_cast<unsigned long long>(std::random_device{}()) << 32) ^ std::random_device{}());
    return seed;
}

unsigned caseCount() { return static_cast<unsigned>(fromEnvironment("DRAVLO_FUZZ_CASES", DefaultCases)); }

class Dice {
public:
    explicit Dice(unsigned long long seed) : engine_(seed) {}
    unsigned below(size_t n) {
        return std::uniform_int_distribution<unsigned>(0, static_cast<unsigned>(n) - 1)(engine_);
    }
    bool chance(unsigned percent) { return below(100) < percent; }
    template <class T, size_t N>
    T pick(const T (&from)[N]) {
        return from[below(N)];
    }

private:
    std::mt19937_64 engine_;
};

// The caller's argument values: each maker fills an empty VARIANT from a number.
struct ValueMaker {
    const char* name;
    void (*make)(VARIANT& v, LONG& pointee, LONG n, ValueObject& object);
};

const ValueMaker valueMakers[] = {
    {"I4", [](VARIANT& v, LONG&, LONG n, ValueObject&) { V_VT(&v) = VT_I4, V_I4(&v) = n; }},
    {"I2", [](VARIANT& v, LONG&, LONG n, ValueObject&) { V_VT(&v) = VT_I2, V_I2(&v) = static_cast<SHORT>(n); }},
    {"UI1", [](VARIANT& v, LONG&, LONG n, ValueObject&) { V_VT(&v) = VT_UI1, V_UI1(&v) = static_cast<BYTE>(n); }},
    {"R8", [](VARIANT& v, LONG&, LONG n, ValueObject&) { V_VT(&v) = VT_R8, V_R8(&v) = n * 2.5; }},
    {"BOOL", [](VARIANT& v, LONG&, LONG n, ValueObject&) { V_VT(&v) = VT_BOOL, V_BOOL(&v) = -(n & 1); }},
    {"digits", [](VARIANT& v, LONG&, LONG n,
                  ValueObject&) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(std::to_wstring(n).c_str()); }},
    {"letters", [](VARIANT& v, LONG&, LONG n,
                   ValueObject&) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString((n & 1) ? L"x" : L"jammed"); }},
    {"empty text", [](VARIANT& v, LONG&, LONG, ValueObject&) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(L""); }},
    {"null text", [](VARIANT& v, LONG&, LONG, ValueObject&) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = nullptr; }},
    {"I4 by reference",
     [](VARIANT& v, LONG& pointee, LONG n, ValueObject&) {
         pointee = n;
         V_VT(&v) = VT_BYREF | VT_I4, V_I4REF(&v) = &pointee;
     }},
    {"null I4 reference",
     [](VARIANT& v, LONG&, LONG, ValueObject&) { V_VT(&v) = VT_BYREF | VT_I4, V_I4REF(&v) = nullptr; }},
    {"EMPTY", [](VARIANT& v, LONG&, LONG, ValueObject&) { V_VT(&v) = VT_EMPTY; }},
    {"NULL", [](VARIANT& v, LONG&, LONG, ValueObject&) { V_VT(&v) = VT_NULL; }},
    {"null object", [](VARIANT& v, LONG&, LONG, ValueObject&) { V_VT(&v) = VT_DISPATCH, V_DISPATCH(&v) = nullptr; }},
    {"object",
     [](VARIANT& v, LONG&, LONG, ValueObject& o) { V_VT(&v) = VT_DISPATCH, V_DISPATCH(&v) = &o, o.AddRef(); }},
    {"ERROR", [](VARIANT& v, LONG&, LONG, ValueObject&) { V_VT(&v) = VT_ERROR, V_ERROR(&v) = DISP_E_PARAMNOTFOUND; }},
    {"unknown", [](VARIANT& v, LONG&, LONG, ValueObject& o) { V_VT(&v) = VT_UNKNOWN, V_UNKNOWN(&v) = &o, o.AddRef(); }},
};

const DISPID oddMembers[] = {0, -1, DISPID_PROPERTYPUT, 3, 4, 6, 100, INT_MAX, INT_MIN};
const DISPID oddPositions[] = {-1, DISPID_PROPERTYPUT, 3, 4, INT_MAX, INT_MIN};
const LONG oddNumbers[] = {0, -1, INT_MAX, INT_MIN, 32768, 256};
const WORD flagChoices[] = {DISPATCH_METHOD,
                            DISPATCH_PROPERTYGET,
                            DISPATCH_PROPERTYPUT,
                            DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                            DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF,
                            0};

// One call of Invoke with everything it points at. Not movable: `params`
// points into the case itself.
struct InvokeCase {
    DISPID member = 0;
    WORD flags = DISPATCH_METHOD;
    bool noParams = false, wantResult = false, wantException = false, wantArgumentError = false;
    std::array<const char*, 4> kinds{};
    std::array<LONG, 4> pointees{};
    std::array<_variant_t, 4> values;  // cleared before the pointees go
    std::array<DISPID, 5> names{};
    DISPPARAMS params{};

    InvokeCase(Dice& dice, const SinkTable& table, ValueObject& object) {
        const bool real = dice.chance(75);
        const Dravlo::SinkEvent& event = table.events[dice.below(table.events.size())];
        member = real ? event.dispid : dice.pick(oddMembers);
        flags = dice.pick(flagChoices);
        noParams = dice.chance(2);
        wantResult = dice.chance(50), wantException = dice.chance(50), wantArgumentError = dice.chance(70);
        params.cArgs = real && dice.chance(80) ? (event.withErrorInfo ? 3 : 2) : dice.below(5);
        for (UINT i = 0; i < params.cArgs; ++i) {
            const ValueMaker& maker = dice.chance(50) ? valueMakers[0] : dice.pick(valueMakers);
            const LONG n = dice.chance(85) ? static_cast<LONG>(dice.below(2001)) - 1000 : dice.pick(oddNumbers);
            maker.make(values[i].GetVARIANT(), pointees[i], n, object);
            kinds[i] = maker.name;
        }
        params.rgvarg = params.cArgs > 0 && dice.chance(97) ? &values[0].GetVARIANT() : nullptr;
        if (params.cArgs > 0 && dice.chance(35)) nameSome(dice);
    }

    // Named arguments as a source lays them out (the last positions, in any
    // order, a leading DISPID_PROPERTYPUT for the last), then perhaps spoilt.
    void nameSome(Dice& dice) {
        params.cNamedArgs = dice.chance(4) ? params.cArgs + 1 : 1 + dice.below(params.cArgs);
        const UINT named = std::min(params.cNamedArgs, params.cArgs);
        const bool put = dice.chance(30);
        std::array<UINT, 4> slots = {0, 1, 2, 3};
        std::shuffle(slots.begin() + (put ? 1 : 0), slots.begin() + named, std::mt19937(dice.below(1u << 30)));
        for (UINT i = 0; i < params.cNamedArgs; ++i)
            names[i] = (put && i == 0) ? DISPID_PROPERTYPUT : static_cast<DISPID>(params.cArgs - 1 - slots[i % 4]);
        if (dice.chance(30))
            names[dice.below(params.cNamedArgs)] =
                dice.chance(50) ? static_cast<DISPID>(dice.below(params.cArgs)) : dice.pick(oddPositions);
        params.rgdispidNamedArgs = dice.chance(97) ? names.data() : nullptr;
    }

    std::string describe(const char* sink) const {
        std::ostringstream out;
        out << sink << " member " << member << " flags " << flags;
        if (noParams) {
            out << " params null";
            return out.str();
        }
        out << " cArgs " << params.cArgs << (params.rgvarg ? "" : " (rgvarg null)") << " [";
        for (UINT i = 0; i < params.cArgs; ++i) out << (i ? ", " : "") << kinds[i];
        out << "] cNamedArgs " << params.cNamedArgs << (params.rgdispidNamedArgs ? " {" : " (names null) {");
        for (UINT i = 0; i < params.cNamedArgs; ++i) out << (i ? ", " : "") << names[i];
        out << "} result " << wantResult << " excepinfo " << wantException << " puArgErr " << wantArgumentError;
        return out.str();
    }
};

// Every byte the caller owns: the parameter block, the argument VARIANTs, the
// values behind VT_BYREF, the named positions and the strings' bytes.
std::string callerBytes(const InvokeCase& c) {
    std::string bytes;
    auto add = [&bytes](const void* p, size_t n) { bytes.append(static_cast<const char*>(p), n); };
    add(&c.params, sizeof c.params);
    add(c.values.data(), sizeof c.values);
    add(c.pointees.data(), sizeof c.pointees);
    add(c.names.data(), sizeof c.names);
    for (const _variant_t& v : c.values)
        if (V_VT(&v) == VT_BSTR && V_BSTR(&v) != nullptr)
            add(reinterpret_cast<const char*>(V_BSTR(&v)) - sizeof(UINT), SysStringByteLen(V_BSTR(&v)) + 6);
    return bytes;
}

struct Expected {
    Expected(HRESULT result, UINT argumentIndex = Sentinel, bool cleared = true, std::vector<Dispatched> made = {})
        : hr(result), argumentError(argumentIndex), resultCleared(cleared), calls(std::move(made)) {}

    HRESULT hr;
    UINT argumentError;
    bool resultCleared;
    std::vector<Dispatched> calls;
};

// Which argument fills slot k (k places from the end), or a failure: a
// leading DISPID_PROPERTYPUT fills slot 0, every other named argument its
// position counted from the end, the rest their own index; all positions in
// range first, then each slot filled exactly once.
Expected placeArguments(const DISPPARAMS& p, std::array<UINT, 3>& argumentOfSlot) {
    const bool put = p.cNamedArgs > 0 && p.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    for (UINT i = put ? 1 : 0; i < p.cNamedArgs; ++i)
        if (p.rgdispidNamedArgs[i] < 0 || p.rgdispidNamedArgs[i] >= static_cast<DISPID>(p.cArgs))
            return {DISP_E_PARAMNOTFOUND, i};
    std::array<unsigned, 3> filled{};
    for (UINT i = 0; i < p.cArgs; ++i) {
        const bool named = i < p.cNamedArgs && !(put && i == 0);
        const UINT slot = named ? p.cArgs - 1 - p.rgdispidNamedArgs[i] : i;
        ++filled[slot];
        argumentOfSlot[slot] = i;
    }
    for (UINT k = 0; k < p.cArgs; ++k)
        if (filled[k] != 1) return {DISP_E_PARAMNOTFOUND};
    return {S_OK};
}

Expected predictInvoke(const SinkTable& table, const FakeNode& node, DISPID member, const DISPPARAMS* p) {
    if (p == nullptr) return {DISP_E_BADVARTYPE, Sentinel, false};
    if (p->cArgs > 3) return {DISP_E_BADPARAMCOUNT, Sentinel, false};
    if (p->cArgs > 0 && p->rgvarg == nullptr) return {E_INVALIDARG, Sentinel, false};
    if (p->cNamedArgs > p->cArgs) return {DISP_E_BADPARAMCOUNT, Sentinel, false};
    if (p->cNamedArgs > 0 && p->rgdispidNamedArgs == nullptr) return {E_INVALIDARG, Sentinel, false};
    std::array<UINT, 3> argumentOfSlot{};
    if (Expected placed = placeArguments(*p, argumentOfSlot); FAILED(placed.hr)) return placed;
    int index = 0;
    while (index < static_cast<int>(table.events.size()) && table.events[index].dispid != member) ++index;
    if (index == static_cast<int>(table.events.size())) return {DISP_E_MEMBERNOTFOUND};
    const UINT count = table.events[index].withErrorInfo ? 3 : 2;
    if (p->cArgs != count) return {DISP_E_BADPARAMCOUNT};
    Dispatched call{node.codes[index], 0, 0, std::nullopt};
    for (UINT parameter = 0; parameter < count; ++parameter) {
        const UINT slot = count - 1 - parameter;
        const VARTYPE type = parameter == 2 ? VT_BSTR : VT_I4;
        const VARIANT& given = p->rgvarg[argumentOfSlot[slot]];
        const VARIANT* value = &given;  // one of the target type is used as it is, a null BSTR too
        _variant_t copy, converted;
        if (V_VT(&given) != type) {
            if (FAILED(VariantCopy(&copy, const_cast<VARIANT*>(&given))) ||
                FAILED(VariantChangeType(&converted, &copy, 0, type)))
                return {DISP_E_TYPEMISMATCH, argumentOfSlot[slot]};  // its index in rgvarg
            value = &converted;
        }
        if (parameter == 0) call.first = V_I4(value);
        if (parameter == 1) call.second = V_I4(value);
        if (parameter == 2 && V_BSTR(value) != nullptr)
            call.errorInfo.emplace(V_BSTR(value), SysStringLen(V_BSTR(value)));
    }
    return {S_OK, Sentinel, true, {call}};
}

const std::pair<HRESULT, const char*> resultNames[] = {
    {S_OK, "S_OK"},
    {E_INVALIDARG, "E_INVALIDARG"},
    {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE"},
    {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT"},
    {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND"},
    {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND"},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
    {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME"},
};

// How often each result came back, and the cases that disagreed.
struct Tally {
    std::map<HRESULT, unsigned> results;
    unsigned dispatched = 0, argumentErrors = 0, cases = 0, failures = 0;

    void report(unsigned index, const std::string& what, const std::string& mismatch) {
        ++failures;
        ADD_FAILURE() << "seed " << runSeed() << " case " << index << ": " << what << "\n" << mismatch;
    }
    bool goOn() const { return failures < MaxReportedCases; }

    void print(const char* test) const {
        std::cout << test << ": seed " << runSeed() << ", " << cases << " cases";
        if (std::strstr(test, "Invoke") != nullptr)
            std::cout << ", " << dispatched << " reached dispatch, puArgErr written " << argumentErrors;
        for (const auto& [hr, name] : resultNames)
            if (results.count(hr)) std::cout << ", " << name << " " << results.at(hr);
        std::cout << std::endl;
    }
    void expectReached(std::initializer_list<HRESULT> wanted) const {
        if (cases < DefaultCases) return;  // a short run need not cover every path
        for (HRESULT hr : wanted) EXPECT_TRUE(results.count(hr)) << "never reached: 0x" << std::hex << hr;
    }
};

struct SinkUnderTest {
    const char* name;
    const SinkTable& table;
    Dravlo::ComRef<Dravlo::EventSink> sink;
};

class SinkFuzz : public SinkFixture {
protected:
    std::array<SinkUnderTest, 2> makeSinks() {
        return {
            {{"jog dial", Dravlo::JogDialSinkTraits::table,
              makeSink<Dravlo::__Impl__IAxisJogDialEvents>(receiver, node)},
             {"keypad", Dravlo::KeyPadSinkTraits::table, makeSink<Dravlo::__Impl__IAxisKeyPadEvents>(receiver, node)}}};
    }

    // Runs one case and returns what disagreed with the oracle.
    std::string check(const SinkUnderTest& s, const InvokeCase& c, ValueObject& object, Tally& tally) {
        const Expected expected = predictInvoke(s.table, node, c.member, c.noParams ? nullptr : &c.params);
        const std::string before = callerBytes(c);
        const LONG references = object.references();
        UINT argumentError = Sentinel;
        VARIANT result;
        V_VT(&result) = VT_I4, V_I4(&result) = 0x5EED;
        EXCEPINFO exception;
        std::memset(&exception, 0xAB, sizeof exception);
        const EXCEPINFO untouched = exception;
        receiver.clearCalls();
        const HRESULT hr =
            s.sink->Invoke(c.member, IID_NULL, LOCALE_USER_DEFAULT, c.flags,
                           c.noParams ? nullptr : const_cast<DISPPARAMS*>(&c.params), c.wantResult ? &result : nullptr,
                           c.wantException ? &exception : nullptr, c.wantArgumentError ? &argumentError : nullptr);
        ++tally.results[hr];
        tally.dispatched += static_cast<unsigned>(receiver.calls().size());
        tally.argumentErrors += argumentError != Sentinel;
        std::ostringstream out;
        if (hr != expected.hr)
            out << "result 0x" << std::hex << hr << ", expected 0x" << expected.hr << std::dec << "\n";
        if (c.wantArgumentError && argumentError != expected.argumentError)
            out << "puArgErr " << argumentError << ", expected " << expected.argumentError << "\n";
        if (c.wantResult && (expected.resultCleared ? V_VT(&result) != VT_EMPTY : V_I4(&result) != 0x5EED))
            out << "pVarResult left as VARTYPE " << V_VT(&result) << "\n";
        if (c.wantException && std::memcmp(&exception, &untouched, sizeof exception) != 0)
            out << "pExcepInfo written\n";
        if (receiver.calls() != expected.calls)
            out << "dispatched " << testing::PrintToString(receiver.calls()) << ", expected "
                << testing::PrintToString(expected.calls) << "\n";
        if (callerBytes(c) != before) out << "caller's arguments changed\n";
        if (object.references() != references) out << "object references " << object.references() << "\n";
        return out.str();
    }

    RecordingReceiver receiver;
    FakeNode node;
};

TEST_F(SinkFuzz, Invoke_AgreesWithTheRules) {
    ValueObject object(ObjectValue);
    auto sinks = makeSinks();
    Dice dice(runSeed());
    Tally tally;
    for (unsigned i = 0; i < caseCount() && tally.goOn(); ++i, ++tally.cases) {
        const SinkUnderTest& s = sinks[dice.below(2)];
        for (int& code : node.codes)
            code = dice.chance(15) ? Dravlo::NoDispatchCode : static_cast<int>(dice.below(100));
        const InvokeCase c(dice, s.table, object);
        if (std::string mismatch = check(s, c, object, tally); !mismatch.empty())
            tally.report(i, c.describe(s.name), mismatch);
    }
    tally.print("SinkFuzz.Invoke");
    EXPECT_EQ(1, object.references());
    if (tally.cases >= DefaultCases) {
        EXPECT_GT(tally.argumentErrors, 0u) << "puArgErr never written";
    }
    tally.expectReached({S_OK, E_INVALIDARG, DISP_E_BADVARTYPE, DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTFOUND,
                         DISP_E_MEMBERNOTFOUND, DISP_E_TYPEMISMATCH});
}

// Matches a table entry the way its rules say: the whole name, any case.
bool sameNameAnyCase(const wchar_t* a, const wchar_t* b) {
    auto fold = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; };
    for (; *a != 0 && *b != 0; ++a, ++b)
        if (fold(*a) != fold(*b)) return false;
    return *a == *b;
}

std::wstring nameFor(Dice& dice, const SinkTable& table, const SinkTable& other) {
    std::wstring name = table.names[dice.below(table.names.size())].name;
    switch (dice.below(5)) {
        case 0:
            return other.names[dice.below(other.names.size())].name;
        case 1:
            return dice.chance(50) ? name + L"s" : name.substr(0, name.size() - 1);
        case 2:
            return std::wstring(dice.below(3), L'e');
        default:
            for (wchar_t& ch : name)
                if (dice.chance(50)) ch = static_cast<wchar_t>(ch ^ 0x20);
            return name;
    }
}

TEST_F(SinkFuzz, GetIDsOfNames_AgreesWithTheRules) {
    auto sinks = makeSinks();
    Dice dice(runSeed() ^ 0x9E3779B97F4A7C15ull);
    Tally tally;
    for (unsigned i = 0; i < caseCount() && tally.goOn(); ++i, ++tally.cases) {
        const unsigned which = dice.below(2);
        const SinkUnderTest& s = sinks[which];
        const UINT count = dice.below(4);
        std::array<std::wstring, 3> texts;
        std::array<LPOLESTR, 3> names{};
        for (UINT k = 0; k < count; ++k) {
            texts[k] = nameFor(dice, s.table, sinks[1 - which].table);
            names[k] = dice.chance(8) ? nullptr : texts[k].data();
        }
        const bool noNames = dice.chance(4), noIds = dice.chance(4);
        // The oracle: entries filled in order up to the first name without a match.
        HRESULT expected = count == 0 ? S_OK : (noNames || noIds) ? E_INVALIDARG : S_OK;
        std::array<DISPID, 3> expectedIds, ids;
        expectedIds.fill(static_cast<DISPID>(Sentinel)), ids.fill(static_cast<DISPID>(Sentinel));
        for (UINT k = 0; k < count && expected == S_OK; ++k) {
            auto entry = std::find_if(s.table.names.begin(), s.table.names.end(), [&](const Dravlo::SinkName& e) {
                return names[k] != nullptr && sameNameAnyCase(names[k], e.name);
            });
            if (entry == s.table.names.end())
                expected = DISP_E_UNKNOWNNAME;
            else
                expectedIds[k] = entry->id;
        }
        const HRESULT hr =
            s.sink->GetIDsOfNames(IID_NULL, noNames ? nullptr : names.data(), count,
                                  dice.chance(50) ? LOCALE_USER_DEFAULT : 0, noIds ? nullptr : ids.data());
        ++tally.results[hr];
        if (hr != expected || ids != expectedIds) {
            std::ostringstream what;
            what << s.name << " count " << count << (noNames ? " names null" : "") << (noIds ? " ids null" : "");
            for (UINT k = 0; k < count; ++k)
                what << " \"" << (names[k] ? std::string(texts[k].begin(), texts[k].end()) : "(null)") << "\"";
            std::ostringstream mismatch;
            mismatch << "result 0x" << std::hex << hr << ", expected 0x" << expected << std::dec << "; ids "
                     << testing::PrintToString(ids) << ", expected " << testing::PrintToString(expectedIds);
            tally.report(i, what.str(), mismatch.str());
        }
    }
    tally.print("SinkFuzz.GetIDsOfNames");
    EXPECT_TRUE(receiver.calls().empty());
    tally.expectReached({S_OK, E_INVALIDARG, DISP_E_UNKNOWNNAME});
}

}  // namespace
