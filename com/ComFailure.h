#pragma once
// The COM reason behind a driver initialisation that failed: which call of
// the initialisation failed and its HRESULT, kept per thread so that Java can
// ask for it on the thread that initialised, right after the failure.
// Nothing of the drivers' behaviour depends on it: the exception texts stay
// the library's own, and the Axis driver's HRESULTs are still not acted on.
//
// Thread rule: each thread reads and writes only its own record (a thread
// slot); a thread that exits leaves nothing behind.

#include <windows.h>

#include <string>

namespace Dravlo {

/// The calls of an initialisation whose failure is kept.
enum class ComStep : unsigned char {
    None,
    StartCom,       // CoInitialize on the initialising thread
    Create,         // CoCreateInstance of the Axis object
    Run,            // OleRun on it
    AskCollection,  // QueryInterface for its collection interface
};

/// Keeps `result` as the calling thread's last COM failure, at `step` of the
/// Axis class `clsid` (any class for StartCom).
void recordComFailure(ComStep step, REFCLSID clsid, HRESULT result) noexcept;

/// Forgets the calling thread's last failure: an initialisation begins.
void clearComFailure() noexcept;

/// The calling thread's last failure in words, for example "creating the Axis
/// jog dial object: 0x80040154 Class not registered"; empty when there is
/// none. May throw std::bad_alloc.
std::wstring describeComFailure();

}  // namespace Dravlo
