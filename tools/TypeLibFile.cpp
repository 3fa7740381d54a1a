// The one correction dravlo_tlbfix makes in the file that CreateTypeLib2
// wrote: how each dispinterface records its IDispatch base. CreateTypeLib2
// stores the base as an explicit reference and a dispatch table of IDispatch's
// seven entries plus the dispinterface's own methods; the loader then lists
// IDispatch's methods among the dispinterface's own (GetTypeAttr counts 12
// instead of 5). MIDL and widl store no explicit base (the loader takes
// IDispatch from the library header's dispatch entry, which CreateTypeLib2
// writes too) and a table of the dispinterface's own methods. This file
// stores those two values in the type records of the "MSFT" file format; the
// tool's read-back through LoadTypeLib proves the result.

#include "tools/TypeLibTools.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace TypeLibTools {
namespace {

constexpr std::uint32_t msftMagic = 0x5446534D;  // "MSFT"
constexpr std::size_t flagsAt = 0x14, typeCountAt = 0x20, dispatchAt = 0x4C, headerSize = 0x54;
constexpr std::uint32_t helpDllFlag = 0x100;  // the header is followed by a help DLL entry
constexpr std::size_t recordSize = 100, kindAt = 0x00, elementCountAt = 0x18, vtableSizeAt = 0x4E, baseAt = 0x54;
constexpr std::int32_t noReference = -1;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::vector<unsigned char> readAll(const std::wstring& path) {
    File file(_wfopen(path.c_str(), L"rb"));
    if (!file) throw Failure("cannot open " + narrow(path));
    std::vector<unsigned char> bytes;
    unsigned char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

void writeAll(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    File file(_wfopen(path.c_str(), L"wb"));
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fclose(file.release()) != 0) {
        throw Failure("cannot write " + narrow(path));
    }
}

void checkRange(const std::vector<unsigned char>& bytes, std::size_t offset, std::size_t size) {
    if (offset > bytes.size() || bytes.size() - offset < size) throw Failure("type library file truncated");
}

/// The little-endian value of type T at `offset`; fails past the end.
template <class T>
T valueAt(const std::vector<unsigned char>& bytes, std::size_t offset) {
    checkRange(bytes, offset, sizeof(T));
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

/// Stores `value` little-endian at `offset`; fails past the end.
template <class T>
void storeAt(std::vector<unsigned char>& bytes, std::size_t offset, T value) {
    checkRange(bytes, offset, sizeof(T));
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

}  // namespace

void useImplicitDispatchBase(const std::wstring& path) {
    std::vector<unsigned char> bytes = readAll(path);
    if (valueAt<std::uint32_t>(bytes, 0) != msftMagic) throw Failure(narrow(path) + " is no MSFT type library");
    if (valueAt<std::int32_t>(bytes, dispatchAt) == noReference) {
        throw Failure(narrow(path) + " has no IDispatch entry in its header");
    }
    const std::uint32_t flags = valueAt<std::uint32_t>(bytes, flagsAt);
    const std::uint32_t pointerSize = (flags & 0xF) == SYS_WIN64 ? 8 : 4;  // the low nibble is the SYSKIND
    const std::uint32_t types = valueAt<std::uint32_t>(bytes, typeCountAt);
    // Header, optional help DLL entry, one offset per type, then the segment
    // directory, whose first entry (offset, length) is the type record table.
    const std::size_t directory = headerSize + ((flags & helpDllFlag) != 0 ? 4 : 0) + 4 * std::size_t{types};
    const std::size_t table = valueAt<std::uint32_t>(bytes, directory);
    if (valueAt<std::uint32_t>(bytes, directory + 4) != types * recordSize) {
        throw Failure(narrow(path) + ": unexpected type record table");
    }
    for (std::size_t i = 0; i < types; ++i) {
        const std::size_t record = table + i * recordSize;
        if ((valueAt<std::uint32_t>(bytes, record + kindAt) & 0xF) != TKIND_DISPATCH) continue;
        const std::uint32_t ownMethods = valueAt<std::uint32_t>(bytes, record + elementCountAt) & 0xFFFF;
        storeAt(bytes, record + vtableSizeAt, static_cast<std::uint16_t>(ownMethods * pointerSize));
        storeAt(bytes, record + baseAt, noReference);
    }
    writeAll(path, bytes);
}

}  // namespace TypeLibTools
