#pragma once
// Device events as the receivers hand them to their listeners: built on the
// receiver's stack, passed by const reference, valid only during the call.

#include <cstdint>

namespace Dravlo {

/// One shuttle ring or jog wheel event.
struct DialEventRecord {
    std::int32_t deviceId;
    std::int32_t shuttleState;  ///< shuttle position; 0 in a jog event
    std::int32_t jogDirection;  ///< jog: 0 clockwise, 1 counter clockwise; 0 in a shuttle event
    std::int32_t eventType;     ///< 0 shuttle, 1 jog
};

/// One button event.
struct KeyEventRecord {
    std::int32_t deviceId;
    std::int32_t buttonNumber;
    std::int32_t eventType;  ///< 0 down, 1 up
};

/// Native listener of dial events (the jog dial driver).
class DialListener {
public:
    /// Called on the event thread; must not throw.
    virtual void onDialEvent(const DialEventRecord& event) = 0;
    virtual ~DialListener() = default;
};

/// Native listener of key events (both drivers).
class KeyListener {
public:
    /// Called on the event thread; must not throw.
    virtual void onKeyEvent(const KeyEventRecord& event) = 0;
    virtual ~KeyListener() = default;
};

}  // namespace Dravlo
