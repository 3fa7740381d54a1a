#pragma once
// What tells the jog dial sink from the keypad sink: the event dispinterface,
// which DISPIDs it delivers (in event-index order) and the names its
// GetIDsOfNames answers. Everything else about the sinks is shared.

#include <windows.h>
#include <oleauto.h>

#include <span>

#include "com/AxisDriver.h"

namespace Dravlo {

/// One event of a dispinterface. Every event carries two 32-bit integers; the
/// Error events add the error text as a third, BSTR, parameter.
struct SinkEvent {
    DISPID dispid;
    bool withErrorInfo;

    constexpr unsigned parameterCount() const noexcept { return withErrorInfo ? 3u : 2u; }
};

/// One entry of GetIDsOfNames: a method name gives its DISPID, a parameter
/// name its position from 0.
struct SinkName {
    const wchar_t* name;
    DISPID id;
};

/// The tables of one event dispinterface. The event index is the position in
/// `events`; names are searched in order, the first case-insensitive match wins.
struct SinkTable {
    IID diid;
    std::span<const SinkEvent> events;
    std::span<const SinkName> names;
};

inline constexpr SinkEvent JogDialSinkEvents[] = {
    {1, false},  // 0: ButtonDown(jogDialId, buttonIndex)
    {2, false},  // 1: ButtonUp(jogDialId, buttonIndex)
    {3, false},  // 2: ShuttleMove(jogDialId, DialState)
    {4, false},  // 3: JogMove(jogDialId, joggState)
    {5, true},   // 4: Error(jogDialId, errorCode, errorInfo)
};

inline constexpr SinkName JogDialSinkNames[] = {
    {L"jogDialId", 0}, {L"buttonIndex", 1}, {L"ButtonDown", 1}, {L"ButtonUp", 2},
    {L"DialState", 1}, {L"ShuttleMove", 3}, {L"joggState", 1},  {L"JogMove", 4},
    {L"errorCode", 1}, {L"errorInfo", 2},   {L"Error", 5},
};

inline constexpr SinkEvent KeyPadSinkEvents[] = {
    {1, false},  // 0: ButtonDown(keyPadId, buttonIndex)
    {2, false},  // 1: ButtonUp(keyPadId, buttonIndex)
    {5, true},   // 2: Error(keyPadId, errorCode, errorInfo)
};

inline constexpr SinkName KeyPadSinkNames[] = {
    {L"keyPadId", 0},  {L"buttonIndex", 1}, {L"ButtonDown", 1}, {L"ButtonUp", 2},
    {L"errorCode", 1}, {L"errorInfo", 2},   {L"Error", 5},
};

/// Traits of the jog dial's `_IAxisJogDialEvents` sink.
struct JogDialSinkTraits {
    static constexpr SinkTable table{DIID__IAxisJogDialEvents, JogDialSinkEvents, JogDialSinkNames};
};

/// Traits of the keypad's `_IAxisKeyPadEvents` sink.
struct KeyPadSinkTraits {
    static constexpr SinkTable table{DIID__IAxisKeyPadEvents, KeyPadSinkEvents, KeyPadSinkNames};
};

}  // namespace Dravlo
