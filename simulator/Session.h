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
//   panel                                   the simulator opens its panel (Panel.h)
//
// "devices" lines come before the first event. The text is UTF-8 (a leading
// byte-order mark is skipped) or UTF-16 with its byte-order mark; the text of
// an Error event is the rest of its line, cut to MaxTextBytes.
//
// A parsed session keeps one step per line that does something; repeats are
// not unrolled but walked (SessionWalk), so its memory grows with the text's
// length, never with the repeat counts. Played, it may take at most MaxSteps
// events and pauses. Reports quote the offending input short and printable.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "simulator/AxisSimulator.h"

namespace AxisSim {

struct SessionStep {
    enum class Op : unsigned char { Event, Wait, Repeat, End };
    Op op = Op::Event;
    Kind kind = Kind::JogDial;  ///< Event
    int device = 0;             ///< Event
    DISPID dispid = 0;          ///< Event
    /// Event: the value after the device id (button, state or error code);
    /// Wait: milliseconds; Repeat: how many times.
    long value = 0;
    /// Repeat: index of its End; End: index of its Repeat; Error: index of its
    /// text in Session::texts.
    std::uint32_t link = 0;
};

struct Session {
    /// Events and pauses played at most, repeats counted.
    static constexpr std::size_t MaxSteps = 100000;
    /// The longest text an Error event carries; a longer one is cut.
    static constexpr std::size_t MaxTextBytes = 1024;

    int devices[2] = {1, 1};  ///< indexed by Kind
    bool panel = false;       ///< a "panel" line: open the panel
    std::vector<SessionStep> steps;
    std::vector<std::string> texts;  ///< of the Error events, each once
    /// The first line whose Error text was cut to MaxTextBytes; 0 when none.
    int textCutAtLine = 0;

    /// True when playing it raises no event and waits for nothing.
    bool empty() const noexcept { return steps.empty(); }
    /// The text of an Error event step.
    std::string_view text(const SessionStep& step) const { return texts[step.link]; }
    /// The event's parameters as its source passes them, first to last.
    std::vector<_variant_t> eventArguments(const SessionStep& step) const;
    /// "ButtonDown(0,3)", "Error(0,17,\"lost\")": the event as the log shows it
    /// (non-printing bytes of a text escaped).
    std::string eventText(const SessionStep& step) const;
};

/// The events and pauses of a session in the order they are played, each
/// repeat's body walked as often as it says. Holds a reference to the
/// session, which must outlive it; one thread at a time.
class SessionWalk {
public:
    explicit SessionWalk(const Session& session) : session_(session) {}
    /// The next Event or Wait step; null once the session is played out.
    const SessionStep* next();

private:
    struct Loop {
        std::size_t repeat;  ///< index of the Repeat step
        long left;           ///< rounds still to play after this one
    };
    const Session& session_;
    std::size_t index_ = 0;
    std::vector<Loop> loops_;
};

/// Where and why a session text is malformed; line counts from 1 (0: the
/// file as a whole).
struct SessionError {
    int line = 0;
    std::string reason;
};

/// Parses a session text (the file's bytes). Throws only std::bad_alloc.
std::variant<Session, SessionError> parseSession(std::string_view text);

/// The session played without AXIS_SIMULATOR_SESSION: one jog dial and one
/// keypad, the first event half a second after Start.
std::string_view defaultSessionText() noexcept;

/// `text` for a log line: bytes that are not printing UTF-8 escaped as \xHH,
/// cut after about `limit` bytes with "..." added.
std::string printable(std::string_view text, std::size_t limit);

}  // namespace AxisSim
