#pragma once
// Process-wide JNI class names of the Java contract. They are defined in the
// one translation unit that fixes the order of the library's static objects;
// every lookup works on a copy.

#include <string>

namespace Dravlo {

extern const std::string DialEventClassName;   ///< "applet/utils/dravlo/DialEvent"
extern const std::string KeyCommandClassName;  ///< "applet/utils/dravlo/KeyCommand"
extern const std::string KeyEventClassName;    ///< "applet/utils/dravlo/KeyEvent"

/// The listener callbacks, looked up on the registered object's own class.
inline constexpr const char OnDialEventMethod[] = "onDialEvent";
inline constexpr const char OnDialEventSignature[] = "(Lapplet/utils/dravlo/DialEvent;)V";
inline constexpr const char OnKeyEventMethod[] = "onKeyEvent";
inline constexpr const char OnKeyEventSignature[] = "(Lapplet/utils/dravlo/KeyEvent;)V";

}  // namespace Dravlo

// The values, for the translation unit that defines the constants above.
#define DRAVLO_DIAL_EVENT_CLASS "applet/utils/dravlo/DialEvent"
#define DRAVLO_KEY_COMMAND_CLASS "applet/utils/dravlo/KeyCommand"
#define DRAVLO_KEY_EVENT_CLASS "applet/utils/dravlo/KeyEvent"
