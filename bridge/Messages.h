#pragma once
// Every text the library shows to Java, in one place. Tests compare against
// these constants, never against a copy of the literal. The wording is the
// system's own and stays exactly as written ("Faild" included).

namespace Dravlo::Messages {

// Exceptions constructed without a message.
inline constexpr const char JniExceptionDefault[] = "DynamicLoad exception";
inline constexpr const char IoExceptionDefault[] = "IO exception";

// Lookups: "Class " + name + " not found"; member + " not found in " + class.
inline constexpr const char ClassPrefix[] = "Class ";
inline constexpr const char ClassNotFoundSuffix[] = " not found";
inline constexpr const char MemberNotFoundIn[] = " not found in ";
inline constexpr const char UnnamedClass[] = "...";
inline constexpr const char NoVirtualMachine[] = "Could not get virtual machine";
inline constexpr const char JavaIOExceptionClass[] = "java/io/IOException";

// Jog dial driver.
inline constexpr const char JogDialComInitFailed[] = "Faild to initialize COM context";
inline constexpr const char JogDialNoDevice[] = "Could not get JogDial device";
inline constexpr const char JogDialInitFailed[] = "JogDial driver initialization failed";
inline constexpr const char JogDialDialRegistrationFailed[] = "JogDial: dial listener registration failed";
inline constexpr const char JogDialKeyRegistrationFailed[] = "JogDial: key listener registration failed";

// Keypad driver.
inline constexpr const char KeyPadComInitFailed[] = "Failed to initialize COM context";
inline constexpr const char KeyPadNoDevice[] = "Could not get KeyPad device";
inline constexpr const char KeyPadInitFailed[] = "KeyPad driver initialization failed";
inline constexpr const char KeyPadKeyRegistrationFailed[] = "KeyPad: key listener registration failed";

}  // namespace Dravlo::Messages
