// The byte queue behind the input and write buffers.
#include <gtest/gtest.h>

#include "net/IdBuffer.h"
#include "net/IdException.h"

using namespace zel;

TEST(Buffer, AppendSearchTake) {
    int64_t removed = 0;
    TIdBuffer b([&](int64_t n) { removed += n; });
    EXPECT_EQ(b.IndexOf("x"), -1);  // empty: -1 before any argument check
    EXPECT_EQ(b.IndexOf(""), -1);
    b.Adopt("abc\r\nde");
    b.Write(std::string_view("f\nxy"));
    EXPECT_EQ(b.View(), "abc\r\ndef\nxy");
    EXPECT_EQ(b.IndexOf("\n"), 4);
    EXPECT_EQ(b.IndexOf("\n", 5), 8);
    EXPECT_EQ(b.IndexOf("xy", 10), -1);
    EXPECT_EQ(b.IndexOf("y", 10), 10);
    EXPECT_EQ(b.IndexOf("\r\nd"), 3);
    EXPECT_THROW(b.IndexOf(""), EIdException);
    for (int64_t bad : {-1, 11, 12}) {
        try {
            b.IndexOf("a", bad);
            FAIL() << bad;
        } catch (const EIdException& e) {
            EXPECT_STREQ(e.what(), "Buffer start position is invalid.");
        }
    }
    try {
        b.Extract(12);
        FAIL();
    } catch (const EIdNotEnoughDataInBuffer& e) {
        EXPECT_STREQ(e.what(), "Not enough data in buffer. (12/11)");
    }
    EXPECT_EQ(b.Size(), 11);  // unchanged by the failure
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(b.Extract(0), "");
    EXPECT_EQ(b.Extract(-5), "");
    EXPECT_EQ(b.Extract(5), "abc\r\n");
    EXPECT_EQ(b.IndexOf("\n"), 3);  // relative to the new head
    EXPECT_EQ(b.Extract(-1), "def\nxy");
    EXPECT_EQ(b.Size(), 0);
    EXPECT_EQ(removed, 11);
}

TEST(Buffer, ConsumedBytesAreCompactedLaterNotEachTime) {
    TIdBuffer b;
    std::string data;
    for (int i = 0; i < 10000; ++i) data += static_cast<char>('a' + i % 26);
    b.Write(std::string_view(data));
    std::string taken;
    // Many small takes interleaved with appends keep the order of every byte.
    for (int i = 0; i < 3000; ++i) {
        taken += b.Extract(3);
        if (i % 100 == 0) b.Write(std::string_view("0123456789"));
    }
    std::string expected = data.substr(0, 9000);
    std::string rest = data.substr(9000);
    for (int i = 0; i < 30; ++i) rest += "0123456789";
    EXPECT_EQ(taken, expected.substr(0, taken.size()));
    EXPECT_EQ(taken.size(), 9000u);
    EXPECT_EQ(b.View(), rest);
}

TEST(Buffer, ExtractToStream) {
    TIdBuffer b;
    b.Write(std::string_view("hello world"));
    b.Extract(6);
    TMemoryStream s;
    b.ExtractToStream(s, 3);
    b.ExtractToStream(s, 0);
    EXPECT_EQ(s.DataString(), "wor");
    b.ExtractToStream(s);
    EXPECT_EQ(s.DataString(), "world");
    EXPECT_EQ(b.Size(), 0);
    EXPECT_THROW(b.ExtractToStream(s, 1), EIdNotEnoughDataInBuffer);
}
