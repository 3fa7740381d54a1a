#pragma once
// 8-bit <-> UTF-16 conversion with a Windows code page (callers pass
// CP_THREAD_ACP, the calling thread's ANSI code page). Windows only.

namespace Dravlo {

/// Converts the zero-terminated `source` into `destination` (capacity in
/// characters). Null when either pointer is null (nothing written) or the
/// conversion fails; otherwise `destination`.
wchar_t* narrowToWide(wchar_t* destination, const char* source, int capacity, unsigned codePage) noexcept;

/// The same from UTF-16 to 8-bit; capacity in bytes; no default character.
char* wideToNarrow(char* destination, const wchar_t* source, int capacity, unsigned codePage) noexcept;

}  // namespace Dravlo
