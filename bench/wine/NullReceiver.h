#pragma once
// The receiver both sinks of the decode figure call: the library's receiver
// base (so whatever the base adds per delivery is measured on both sides)
// over no device, whose handlers only fold their arguments into a counter
// that the optimiser cannot drop.

#include <windows.h>

#include "com/AxisDriver.h"
#include "com/DeviceReceiver.h"

namespace DravloBench {

class NullReceiver final : public Dravlo::DeviceReceiver<NullReceiver, IJogDialDevice, 5> {
public:
    NullReceiver() : DeviceReceiver(Dravlo::ComRef<IJogDialDevice>()) {}
    ~NullReceiver() { close(); }

    /// The dispatch code event `index` is bound to.
    static constexpr int codeOf(int index) noexcept { return FirstDispatchCode + index; }
    long long folded() const noexcept { return folded_; }

private:
    friend DeviceReceiver;
    void onEvent(int first, int second) { folded_ = folded_ + first + second; }

    static constexpr Handler handlers[5] = {&NullReceiver::onEvent, &NullReceiver::onEvent, &NullReceiver::onEvent,
                                            &NullReceiver::onEvent, nullptr};
    volatile long long folded_ = 0;
};

}  // namespace DravloBench
