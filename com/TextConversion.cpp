#include "com/TextConversion.h"

#include <windows.h>

namespace Dravlo {

wchar_t* narrowToWide(wchar_t* destination, const char* source, int capacity, unsigned codePage) noexcept {
    if (destination == nullptr || source == nullptr) return nullptr;
    if (capacity <= 0) return nullptr;
    destination[0] = L'\0';
    if (MultiByteToWideChar(codePage, 0, source, -1, destination, capacity) == 0) return nullptr;
    return destination;
}

char* wideToNarrow(char* destination, const wchar_t* source, int capacity, unsigned codePage) noexcept {
    if (destination == nullptr || source == nullptr) return nullptr;
    if (capacity <= 0) return nullptr;
    destination[0] = '\0';
    if (WideCharToMultiByte(codePage, 0, source, -1, destination, capacity, nullptr, nullptr) == 0) return nullptr;
    return destination;
}

}  // namespace Dravlo
