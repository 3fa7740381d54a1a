#pragma once
// Keeping the library mapped once it has handed out a sink.

namespace Dravlo {

/// Keeps this library mapped for the rest of the process. A device may call a
/// sink, or a listener may return into the library, long after the JVM has
/// let go of it (HotSpot frees a library with its class loader), so once the
/// first sink exists the code must never be unmapped. Idempotent.
void pinLibrary() noexcept;

}  // namespace Dravlo
