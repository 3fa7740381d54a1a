#include <windows.h>

#include <functional>

#include "bench/wine/BareSink.h"
#include "bench/wine/NullReceiver.h"
#include "bench/wine/WineBench.h"
#include "com/EventSink.h"

namespace DravloBench {

namespace {

// The binding a connection node would hold: every event bound to its code.
class AllBoundNode final : public Dravlo::__EventHandlerNodeProxy {
public:
    int dispatchCodeOf(int eventIndex) const noexcept override {
        return eventIndex >= 0 && eventIndex < 5 ? NullReceiver::codeOf(eventIndex) : Dravlo::NoDispatchCode;
    }
};

// One JogMove(jogDialId, joggState) as a connection point passes it: the
// arguments last first, no named ones.
class JogMoveArguments {
public:
    JogMoveArguments() {
        V_VT(&args_[0]) = VT_I4;
        V_I4(&args_[0]) = -3;  // joggState
        V_VT(&args_[1]) = VT_I4;
        V_I4(&args_[1]) = 0;  // jogDialId
        params_.rgvarg = args_;
        params_.cArgs = 2;
    }
    HRESULT invoke(IDispatch* sink) {
        return sink->Invoke(BareSink::JogMove, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params_, nullptr,
                            nullptr, nullptr);
    }

private:
    VARIANT args_[2];
    DISPPARAMS params_{};
};

struct Figure {
    const char* name;
    std::function<double()> run;
};

}  // namespace

// Committed private memory, summed over the address space: what Windows
// calls private bytes (Wine leaves PrivateUsage of GetProcessMemoryInfo 0).
long long privateBytes() {
    long long total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<long long>(region.RegionSize);
        if (region.RegionSize == 0) break;
    }
    return total;
}

void sinkDecode(const Sizes& sizes, Measure measure) {
    NullReceiver receiver;
    AllBoundNode node;
    Dravlo::CComObject<Dravlo::__Impl__IAxisJogDialEvents>* made = nullptr;
    if (FAILED(Dravlo::CComObject<Dravlo::__Impl__IAxisJogDialEvents>::CreateInstance(&made))) return;
    auto sink = Dravlo::ComRef<Dravlo::EventSink>::copy(made);
    sink->attach(&receiver, &node, receiver.rundown());
    BareSink bare(receiver, NullReceiver::codeOf(3));
    JogMoveArguments jogMove;

    // Both must reach the receiver, or the figure measures a refusal.
    const long long folded = receiver.folded();
    if (jogMove.invoke(sink.get()) != S_OK || jogMove.invoke(&bare) != S_OK || receiver.folded() != folded - 6) {
        std::printf("error decode: a sink did not deliver the JogMove\n");
        return;
    }
    // What the sink's teardown protection costs: entering and leaving the
    // receiver's rundown, with the thread's frame list, as each Invoke does.
    Dravlo::DeliveryRundown* const rundown = receiver.rundown().get();
    const auto rundownOnly = [rundown](long) { const Dravlo::DeliveryScope scope(rundown); };
    const auto sinkInvoke = [&](long) { jogMove.invoke(sink.get()); };
    const auto bareInvoke = [&](long) { jogMove.invoke(&bare); };
    if (measure == Measure::Count) {
        for (long i = 0; i < sizes.warmUpEvents; ++i) sinkInvoke(i), bareInvoke(i), rundownOnly(i);
        countFigure("decode.sink", sizes.countEvents, sinkInvoke);
        countFigure("decode.bare", sizes.countEvents, bareInvoke);
        countFigure("decode.rundown", sizes.countEvents, rundownOnly);
        sink->disconnectReceiver();
        return;
    }
    const auto timed = [&sizes](auto event) {
        return [&sizes, event] { return nsPerEvent(sizes.eventsPerRun, event); };
    };
    interleave<Figure>(sizes.runs, {{"decode.sink", timed(sinkInvoke)},
                                    {"decode.bare", timed(bareInvoke)},
                                    {"decode.rundown", timed(rundownOnly)}});
    memoryFigure("decode.sink", sizes.warmUpEvents, sizes.memoryEvents, privateBytes, sinkInvoke);
    memoryFigure("decode.bare", sizes.warmUpEvents, sizes.memoryEvents, privateBytes, bareInvoke);
    sink->disconnectReceiver();
}

}  // namespace DravloBench
