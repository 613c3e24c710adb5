// Windows-1252 and UTF-8: what people see and type goes back to the module's 8-bit text unchanged.
#include <gtest/gtest.h>

#include "platform/TextUtils.h"

using namespace zel;

TEST(Text, Win1252RoundTripAndReplacements) {
    for (int b = 1; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const bool unassigned = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        EXPECT_EQ(Utf8ToWin1252(Win1252ToUtf8(byte)), unassigned ? "?" : byte) << b;
    }
    struct Case { const char* utf8; const char* win1252; } cases[] = {
        {"I\xc2\xb2" "C", "I\xb2" "C"}, {"\xe2\x82\xac 5", "\x80 5"}, {"\xe2\x80\x9cq\xe2\x80\x9d", "\x93q\x94"},
        {"\xe4\xb8\xad", "?"},           // a character Windows-1252 does not have
        {"\xf0\x9f\x98\x80x", "?x"},     // nor a four-byte one
        {"a\xc3", "a?"}, {"\xc3(", "?("}, {"\xff", "?"},  // broken UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToWin1252(c.utf8), c.win1252) << c.utf8;
}
