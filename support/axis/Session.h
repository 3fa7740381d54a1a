#pragma once
// A session of the installed simulator: how many devices of each kind exist
// and which events they raise, when. Text, one command a line ('#' starts a
// comment anywhere, blank lines are ignored):
//
//   devices jogdial N | devices keypad N    devices of that kind (0 to 16; 1 without the line)
//   wait MS                                 pause of MS milliseconds (0 to 600000)
//   jogdial D ButtonDown B | ButtonUp B     an event raised by jog dial D (its id is D)
//   jogdial D ShuttleMove S | JogMove J
//   jogdial D Error CODE [TEXT...]
//   keypad D ButtonDown B | ButtonUp B | Error CODE [TEXT...]
//   repeat N ... end                        the lines between played N times (1 to 10000; may nest)
//
// "devices" lines come before the first event. A parsed session is a flat
// list of steps (repeats unrolled, at most MaxSteps). The file is read as
// UTF-8; the text of an Error event is the rest of its line.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/axis/AxisSimulator.h"

namespace AxisSim {

struct SessionStep {
    /// Pause before the next step; 0 for an event.
    unsigned waitMs = 0;
    /// The event, when waitMs is 0.
    Kind kind = Kind::JogDial;
    int device = 0;
    DISPID dispid = 0;
    const char* eventName = "";
    long value = 0;    ///< after the device id: button index, state or error code
    std::string text;  ///< Error only
};

struct Session {
    static constexpr std::size_t MaxSteps = 100000;
    int devices[2] = {1, 1};  ///< indexed by Kind
    std::vector<SessionStep> steps;
};

/// Where and why a session text is malformed; line counts from 1.
struct SessionError {
    int line = 0;
    std::string reason;
};

/// Parses a session text. Throws only std::bad_alloc.
std::variant<Session, SessionError> parseSession(std::string_view text);

/// The session played without AXIS_SIMULATOR_SESSION: one jog dial and one
/// keypad, the first event half a second after Start.
std::string_view defaultSessionText() noexcept;

/// The event's parameters as its source passes them, first to last.
std::vector<_variant_t> eventArguments(const SessionStep& step);
/// "ButtonDown(0,3)": the event as the log shows it.
std::string eventText(const SessionStep& step);

}  // namespace AxisSim
