// narrowToWide / wideToNarrow: null pointers and too-small buffers fail
// without writing, and text round-trips through the thread's ANSI code page.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "com/TextConversion.h"

namespace {

using namespace Dravlo;

constexpr wchar_t kWideSentinel = 0xBEEF;
constexpr char kNarrowSentinel = 0x5A;

template <class Char, std::size_t N>
bool untouched(const Char (&buffer)[N], Char sentinel) {
    return std::all_of(buffer, buffer + N, [&](Char c) { return c == sentinel; });
}

TEST(TextConversion, NullPointers_ReturnNullAndWriteNothing) {
    wchar_t wide[8];
    char narrow[8];
    std::fill(std::begin(wide), std::end(wide), kWideSentinel);
    std::fill(std::begin(narrow), std::end(narrow), kNarrowSentinel);

    EXPECT_EQ(narrowToWide(wide, nullptr, 8, CP_THREAD_ACP), nullptr);
    EXPECT_EQ(narrowToWide(nullptr, "abc", 8, CP_THREAD_ACP), nullptr);
    EXPECT_EQ(wideToNarrow(narrow, nullptr, 8, CP_THREAD_ACP), nullptr);
    EXPECT_EQ(wideToNarrow(nullptr, L"abc", 8, CP_THREAD_ACP), nullptr);
    EXPECT_TRUE(untouched(wide, kWideSentinel));
    EXPECT_TRUE(untouched(narrow, kNarrowSentinel));
}

TEST(TextConversion, Capacity_ExactFitSucceeds_OneLessFails) {
    wchar_t wide[8];
    char narrow[8];
    EXPECT_EQ(narrowToWide(wide, "abcd", 5, CP_THREAD_ACP), wide);
    EXPECT_STREQ(wide, L"abcd");
    EXPECT_EQ(narrowToWide(wide, "abcd", 4, CP_THREAD_ACP), nullptr);
    EXPECT_EQ(wideToNarrow(narrow, L"abcd", 5, CP_THREAD_ACP), narrow);
    EXPECT_STREQ(narrow, "abcd");
    EXPECT_EQ(wideToNarrow(narrow, L"abcd", 4, CP_THREAD_ACP), nullptr);
}

TEST(TextConversion, ZeroCapacity_FailsWithoutWriting) {
    // With capacity 0 the platform call would only measure; the buffer has no room even for the terminator.
    wchar_t wide[2] = {kWideSentinel, kWideSentinel};
    char narrow[2] = {kNarrowSentinel, kNarrowSentinel};
    EXPECT_EQ(narrowToWide(wide, "abc", 0, CP_THREAD_ACP), nullptr);
    EXPECT_EQ(wideToNarrow(narrow, L"abc", 0, CP_THREAD_ACP), nullptr);
    EXPECT_TRUE(untouched(wide, kWideSentinel));
    EXPECT_TRUE(untouched(narrow, kNarrowSentinel));
}

TEST(TextConversion, RoundTrip_ThreadCodePage) {
    const wchar_t original[] = L"Axis Jog Dial caf\u00e9 \u00fc";
    char narrow[64];
    wchar_t back[64];
    ASSERT_EQ(wideToNarrow(narrow, original, sizeof narrow, CP_THREAD_ACP), narrow);
    ASSERT_EQ(narrowToWide(back, narrow, 64, CP_THREAD_ACP), back);
    EXPECT_STREQ(back, original);
    EXPECT_EQ(narrowToWide(back, "", 1, CP_THREAD_ACP), back);
    EXPECT_STREQ(back, L"");
}

}  // namespace
