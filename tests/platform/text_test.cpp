// Text helpers: Windows-1252 and UTF-8 (what people see and type goes back to the module's 8-bit
// text unchanged), integer texts and blanks.
#include <gtest/gtest.h>

#include "platform/Exceptions.h"
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

TEST(Text, IntegerTextAndBlanks) {
    // ok: the text is a 32-bit integer, for TryStrToInt (value left alone otherwise) and StrToInt alike.
    struct Case { const char* text; bool ok; int32_t value; } cases[] = {
        {"0", true, 0}, {"-0", true, 0}, {"+7", true, 7}, {"007", true, 7}, {"00000000000012", true, 12},
        {"2147483647", true, INT32_MAX}, {"-2147483648", true, INT32_MIN}, {"+2147483647", true, INT32_MAX},
        {"2147483648", false, 0}, {"-2147483649", false, 0}, {"99999999999999999999", false, 0},
        {"18446744073709551617", false, 0},  // 2^64 + 1: a 64-bit sum would wrap to 1
        {"", false, 0}, {"-", false, 0}, {"+", false, 0}, {"+-1", false, 0}, {"--1", false, 0},
        {" 1", false, 0}, {"1 ", false, 0}, {"0x10", false, 0}, {"1.5", false, 0}, {"12x", false, 0},
    };
    for (const auto& c : cases) {
        int32_t got = 4242;
        EXPECT_EQ(TryStrToInt(c.text, got), c.ok) << c.text;
        EXPECT_EQ(got, c.ok ? c.value : 4242) << c.text;
        if (c.ok) EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
        else EXPECT_THROW(StrToInt(c.text), EConvertError) << c.text;
    }
    struct Blank { const char* text; bool nonBlank; } blanks[] = {
        {"", false}, {" \t\r\n", false}, {"\x01\x1f ", false}, {" a ", true}, {"  \xa0", true}, {"\x7f", true},
    };
    for (const auto& b : blanks) EXPECT_EQ(HasNonBlank(b.text), b.nonBlank) << b.text;
}
