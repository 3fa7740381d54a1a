// The session text: parsing, the default session and the events' arguments.

#include "support/axis/Session.h"

#include <charconv>
#include <climits>

namespace AxisSim {

namespace {

constexpr std::string_view DefaultSession = R"(# The simulator's default session: one jog dial and one keypad.
devices jogdial 1
devices keypad 1
wait 500
jogdial 0 ButtonDown 3
jogdial 0 ButtonUp 3
repeat 2
  jogdial 0 JogMove 1
end
jogdial 0 JogMove -1
jogdial 0 ShuttleMove -3
jogdial 0 ShuttleMove 0
keypad 0 ButtonDown 5
keypad 0 ButtonUp 5
keypad 0 ButtonDown 6
keypad 0 ButtonUp 6
wait 200
)";

struct EventInfo {
    std::string_view name;
    DISPID dispid;
    bool jogDialOnly;
    bool error;
};

constexpr EventInfo Events[] = {
    {"ButtonDown", Dispid::ButtonDown, false, false},
    {"ButtonUp", Dispid::ButtonUp, false, false},
    {"ShuttleMove", Dispid::ShuttleMove, true, false},
    {"JogMove", Dispid::JogMove, true, false},
    {"Error", Dispid::Error, false, true},
};

/// One line cut into words, the comment removed.
class Words {
public:
    explicit Words(std::string_view line) : rest_(line.substr(0, line.find('#'))) {}
    /// The next word; empty at the end of the line.
    std::string_view next() {
        skipSpace();
        std::size_t end = 0;
        while (end < rest_.size() && !isSpace(rest_[end])) ++end;
        std::string_view word = rest_.substr(0, end);
        rest_.remove_prefix(end);
        return word;
    }
    /// The rest of the line without its leading and trailing blanks.
    std::string_view remainder() {
        skipSpace();
        while (!rest_.empty() && isSpace(rest_.back())) rest_.remove_suffix(1);
        return rest_;
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }
    void skipSpace() {
        while (!rest_.empty() && isSpace(rest_.front())) rest_.remove_prefix(1);
    }
    std::string_view rest_;
};

/// Thrown inside the parser only; parseSession turns it into a SessionError.
struct Malformed {
    std::string reason;
};

long number(std::string_view word, long low, long high, const char* what) {
    if (word.empty()) throw Malformed{std::string("missing ") + what};
    if (word.front() == '+') word.remove_prefix(1);
    long value = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size())
        throw Malformed{std::string(what) + " is not a number: " + std::string(word)};
    if (value < low || value > high)
        throw Malformed{std::string(what) + " out of range " + std::to_string(low) + ".." + std::to_string(high) +
                        ": " + std::string(word)};
    return value;
}

std::optional<Kind> kindNamed(std::string_view word) {
    if (word == "jogdial") return Kind::JogDial;
    if (word == "keypad") return Kind::KeyPad;
    return std::nullopt;
}

void expectEnd(Words& words) {
    std::string_view extra = words.next();
    if (!extra.empty()) throw Malformed{"unexpected " + std::string(extra)};
}

class Parser {
public:
    std::variant<Session, SessionError> run(std::string_view text) {
        int line = 0;
        try {
            while (!text.empty()) {
                const std::size_t end = text.find('\n');
                line_ = ++line;
                parseLine(text.substr(0, end));
                text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            }
            if (!repeats_.empty()) {
                line = repeats_.back().line;
                throw Malformed{"repeat without end"};
            }
        } catch (const Malformed& malformed) {
            return SessionError{line, malformed.reason};
        }
        return std::move(session_);
    }

private:
    struct OpenRepeat {
        int line;
        long count;
        std::size_t firstStep;
    };

    void parseLine(std::string_view line) {
        Words words(line);
        const std::string_view command = words.next();
        if (command.empty()) return;
        if (command == "devices") return parseDevices(words);
        if (command == "wait") {
            SessionStep step;
            step.waitMs = static_cast<unsigned>(number(words.next(), 0, 600000, "milliseconds"));
            expectEnd(words);
            if (step.waitMs != 0) add(std::move(step));
            return;
        }
        if (command == "repeat") {
            const long count = number(words.next(), 1, 10000, "repeat count");
            expectEnd(words);
            repeats_.push_back({line_, count, session_.steps.size()});
            return;
        }
        if (command == "end") return closeRepeat(words);
        if (std::optional<Kind> kind = kindNamed(command)) return parseEvent(*kind, words);
        throw Malformed{"unknown command " + std::string(command)};
    }

    void parseDevices(Words& words) {
        std::optional<Kind> kind = kindNamed(words.next());
        if (!kind) throw Malformed{"devices needs jogdial or keypad"};
        const long count = number(words.next(), 0, 16, "device count");
        expectEnd(words);
        if (eventSeen_) throw Malformed{"devices after the first event"};
        session_.devices[static_cast<int>(*kind)] = static_cast<int>(count);
    }

    void parseEvent(Kind kind, Words& words) {
        SessionStep step;
        step.kind = kind;
        step.device = static_cast<int>(number(words.next(), 0, 15, "device"));
        if (step.device >= session_.devices[static_cast<int>(kind)])
            throw Malformed{"no such device: " + std::to_string(step.device)};
        const std::string_view name = words.next();
        const EventInfo* info = nullptr;
        for (const EventInfo& candidate : Events)
            if (candidate.name == name) info = &candidate;
        if (info == nullptr || (info->jogDialOnly && kind == Kind::KeyPad))
            throw Malformed{(kind == Kind::JogDial ? "jogdial has no event " : "keypad has no event ") +
                            std::string(name)};
        step.dispid = info->dispid;
        step.eventName = info->name.data();
        if (info->error) {
            step.value = number(words.next(), LONG_MIN, LONG_MAX, "error code");
            step.text = std::string(words.remainder());
        } else {
            step.value = number(words.next(), LONG_MIN, LONG_MAX, "value");
            expectEnd(words);
        }
        eventSeen_ = true;
        add(std::move(step));
    }

    void closeRepeat(Words& words) {
        expectEnd(words);
        if (repeats_.empty()) throw Malformed{"end without repeat"};
        const OpenRepeat open = repeats_.back();
        repeats_.pop_back();
        std::vector<SessionStep>& steps = session_.steps;
        const std::size_t length = steps.size() - open.firstStep;
        if (length * static_cast<std::size_t>(open.count) + open.firstStep > Session::MaxSteps) tooLong();
        for (long round = 1; round < open.count; ++round)
            for (std::size_t i = 0; i < length; ++i) steps.push_back(steps[open.firstStep + i]);
    }

    void add(SessionStep step) {
        if (session_.steps.size() >= Session::MaxSteps) tooLong();
        session_.steps.push_back(std::move(step));
    }

    [[noreturn]] static void tooLong() {
        throw Malformed{"more than " + std::to_string(Session::MaxSteps) + " steps once repeated"};
    }

    Session session_;
    std::vector<OpenRepeat> repeats_;
    bool eventSeen_ = false;
    int line_ = 0;
};

}  // namespace

std::variant<Session, SessionError> parseSession(std::string_view text) { return Parser().run(text); }

std::string_view defaultSessionText() noexcept { return DefaultSession; }

std::vector<_variant_t> eventArguments(const SessionStep& step) {
    if (step.dispid == Dispid::Error) {
        std::vector<_variant_t> args = intArgs({step.device, step.value});
        // The session file is UTF-8; an invalid sequence gives an empty text.
        const int length = static_cast<int>(step.text.size());
        std::wstring text(static_cast<std::size_t>(length), L'\0');
        const int written = MultiByteToWideChar(CP_UTF8, 0, step.text.data(), length, text.data(), length);
        text.resize(static_cast<std::size_t>(written > 0 ? written : 0));
        args.emplace_back(text.c_str());
        return args;
    }
    return intArgs({step.device, step.value});
}

std::string eventText(const SessionStep& step) {
    std::string text =
        std::string(step.eventName) + "(" + std::to_string(step.device) + "," + std::to_string(step.value);
    if (step.dispid == Dispid::Error) text += ",\"" + step.text + "\"";
    return text + ")";
}

}  // namespace AxisSim
