// The session text: decoding, parsing, walking, the default session and the
// events' arguments.

#include "simulator/Session.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <optional>

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

/// How much of an offending word a report quotes.
constexpr std::size_t QuotedBytes = 60;

std::string quoted(std::string_view word) { return printable(word, QuotedBytes); }

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
    // One '+' may lead a number, not a sign after it ("+-5").
    if (word.front() == '+' && word.substr(1, 1) != "-") word.remove_prefix(1);
    long value = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size())
        throw Malformed{std::string(what) + " is not a number: " + quoted(word)};
    if (value < low || value > high)
        throw Malformed{std::string(what) + " out of range " + std::to_string(low) + ".." + std::to_string(high) +
                        ": " + quoted(word)};
    return value;
}

std::optional<Kind> kindNamed(std::string_view word) {
    if (word == "jogdial") return Kind::JogDial;
    if (word == "keypad") return Kind::KeyPad;
    return std::nullopt;
}

void expectEnd(Words& words) {
    std::string_view extra = words.next();
    if (!extra.empty()) throw Malformed{"unexpected " + quoted(extra)};
}

/// The length of the UTF-8 sequence starting text[0] when it is valid and
/// printing; 0 otherwise.
std::size_t printingSequence(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead >= 0x20 && lead < 0x7F) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2) low = 0xA0;  // C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

/// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
std::string_view cutUtf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

/// UTF-16 code units (little-endian unless `bigEndian`) as UTF-8.
std::optional<std::string> utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::wstring wide(bytes.size() / 2, L'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        wide[i] = static_cast<wchar_t>(bigEndian ? first << 8 | second : second << 8 | first);
    }
    if (wide.empty()) return std::string();
    const int length = static_cast<int>(wide.size());
    const int size =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::nullopt;
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, text.data(), size, nullptr, nullptr);
    return text;
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
        session_.steps.shrink_to_fit();
        session_.texts.shrink_to_fit();
        return std::move(session_);
    }

private:
    struct OpenRepeat {
        int line;
        std::size_t step;    ///< index of its Repeat step
        std::size_t before;  ///< steps played before it
    };
    using Op = SessionStep::Op;

    void parseLine(std::string_view line) {
        Words words(line);
        const std::string_view command = words.next();
        if (command.empty()) return;
        if (command == "devices") return parseDevices(words);
        if (command == "panel") {
            expectEnd(words);
            session_.panel = true;
            return;
        }
        if (command == "wait") {
            SessionStep step;
            step.op = Op::Wait;
            step.value = number(words.next(), 0, 600000, "milliseconds");
            expectEnd(words);
            if (step.value != 0) play(step);
            return;
        }
        if (command == "repeat") {
            SessionStep step;
            step.op = Op::Repeat;
            step.value = number(words.next(), 1, 10000, "repeat count");
            expectEnd(words);
            repeats_.push_back({line_, session_.steps.size(), played_});
            session_.steps.push_back(step);
            return;
        }
        if (command == "end") return closeRepeat(words);
        if (std::optional<Kind> kind = kindNamed(command)) return parseEvent(*kind, words);
        throw Malformed{"unknown command " + quoted(command)};
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
            throw Malformed{(kind == Kind::JogDial ? "jogdial has no event " : "keypad has no event ") + quoted(name)};
        step.dispid = info->dispid;
        if (info->error) {
            step.value = number(words.next(), LONG_MIN, LONG_MAX, "error code");
            const std::string_view text = words.remainder();
            if (text.size() > Session::MaxTextBytes && session_.textCutAtLine == 0) session_.textCutAtLine = line_;
            step.link = static_cast<std::uint32_t>(session_.texts.size());
            session_.texts.emplace_back(cutUtf8(text, Session::MaxTextBytes));
        } else {
            step.value = number(words.next(), LONG_MIN, LONG_MAX, "value");
            expectEnd(words);
        }
        eventSeen_ = true;
        play(step);
    }

    void closeRepeat(Words& words) {
        expectEnd(words);
        if (repeats_.empty()) throw Malformed{"end without repeat"};
        const OpenRepeat open = repeats_.back();
        repeats_.pop_back();
        std::vector<SessionStep>& steps = session_.steps;
        const std::size_t body = played_ - open.before;
        if (body == 0) {  // nothing to play: the repeat goes
            steps.resize(open.step);
            return;
        }
        played_ = open.before + body * static_cast<std::size_t>(steps[open.step].value);
        if (played_ > Session::MaxSteps) tooLarge();
        steps[open.step].link = static_cast<std::uint32_t>(steps.size());
        SessionStep end;
        end.op = Op::End;
        end.link = static_cast<std::uint32_t>(open.step);
        steps.push_back(end);
    }

    /// Adds an Event or Wait step.
    void play(const SessionStep& step) {
        if (++played_ > Session::MaxSteps) tooLarge();
        session_.steps.push_back(step);
    }

    [[noreturn]] static void tooLarge() {
        throw Malformed{"too large: more than " + std::to_string(Session::MaxSteps) + " steps once repeated"};
    }

    Session session_;
    std::vector<OpenRepeat> repeats_;
    std::size_t played_ = 0;  ///< events and pauses played so far, closed repeats counted in full
    bool eventSeen_ = false;
    int line_ = 0;
};

const EventInfo& eventInfo(DISPID dispid) {
    for (const EventInfo& info : Events)
        if (info.dispid == dispid) return info;
    return Events[0];
}

}  // namespace

// The README promises about 24 bytes a line.
static_assert(sizeof(SessionStep) <= 24);

std::variant<Session, SessionError> parseSession(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") return Parser().run(text.substr(3));
    const bool little = text.substr(0, 2) == "\xFF\xFE", big = text.substr(0, 2) == "\xFE\xFF";
    if (little || big) {
        if (text.size() % 2 != 0) return SessionError{0, "UTF-16 text of an odd number of bytes"};
        const std::optional<std::string> utf8 = utf16ToUtf8(text.substr(2), big);
        if (!utf8) return SessionError{0, "UTF-16 text that is not valid UTF-16"};
        return Parser().run(*utf8);
    }
    if (text.size() >= 2 && (text[0] == '\0' || text[1] == '\0'))
        return SessionError{1, "UTF-16 text without a byte-order mark: save it as UTF-8"};
    return Parser().run(text);
}

std::string_view defaultSessionText() noexcept { return DefaultSession; }

const SessionStep* SessionWalk::next() {
    const std::vector<SessionStep>& steps = session_.steps;
    while (index_ < steps.size()) {
        const SessionStep& step = steps[index_];
        if (step.op == SessionStep::Op::Repeat) {
            loops_.push_back({index_, step.value - 1});
            ++index_;
        } else if (step.op == SessionStep::Op::End) {
            Loop& loop = loops_.back();
            if (loop.left-- > 0) {
                index_ = loop.repeat + 1;
            } else {
                loops_.pop_back();
                ++index_;
            }
        } else {
            ++index_;
            return &step;
        }
    }
    return nullptr;
}

std::vector<_variant_t> Session::eventArguments(const SessionStep& step) const {
    if (step.dispid == Dispid::Error) {
        std::vector<_variant_t> args = intArgs({step.device, step.value});
        // The session is UTF-8; an invalid sequence gives an empty text.
        const std::string_view utf8 = text(step);
        const int length = static_cast<int>(utf8.size());
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        const int written = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), length);
        wide.resize(static_cast<std::size_t>(written > 0 ? written : 0));
        args.emplace_back(wide.c_str());
        return args;
    }
    return intArgs({step.device, step.value});
}

std::string Session::eventText(const SessionStep& step) const {
    std::string shown =
        std::string(eventInfo(step.dispid).name) + "(" + std::to_string(step.device) + "," + std::to_string(step.value);
    if (step.dispid == Dispid::Error) shown += ",\"" + printable(text(step), MaxTextBytes) + "\"";
    return shown + ")";
}

std::string printable(std::string_view text, std::size_t limit) {
    std::string shown;
    std::size_t at = 0;
    while (at < text.size() && at < limit) {
        const std::size_t length = printingSequence(text.substr(at));
        if (length != 0) {
            shown.append(text.substr(at, length));
            at += length;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[at]));
        shown += escaped;
        ++at;
    }
    if (at < text.size()) shown += "...";
    return shown;
}

}  // namespace AxisSim
