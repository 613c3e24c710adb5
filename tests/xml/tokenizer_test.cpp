#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/Streams.h"
#include "xml/ECXMLTokenizer.h"

using namespace zel;

namespace {

using Toks = std::vector<std::pair<int, std::string>>;

// All tokens up to end of input; `line` receives the final SourceLine.
template <class Tokenizer = TXMLTokenizer>
Toks Tokenize(TStream& s, int* line = nullptr) {
    Tokenizer t(s);
    Toks out;
    while (t.Token() != toEOF && out.size() < 100000) {
        out.emplace_back(t.Token(), t.TokenString());
        t.NextToken();
    }
    if (line) *line = t.SourceLine();
    return out;
}

Toks Tokenize(std::string_view input, int* line = nullptr) {
    TBytesViewStream s(input);
    return Tokenize(s, line);
}

// A document of many short lines, with the tokens it must yield.
struct Doc {
    std::string text;
    Toks tokens;
    void Line(const std::string& tag, const std::string& body) {
        text += tag + body + "</" + tag.substr(1) + "\n";
        tokens.insert(tokens.end(), {{toStartTag, tag}, {toText, body}, {toEndTag, "</" + tag.substr(1)}});
    }
};

}  // namespace

TEST(Tokenizer, TokenKindsAndText) {
    struct Case { std::string in; Toks want; } cases[] = {
        {"", {}},
        {"  <a>  x y  </a>", {{toStartTag, "<a>"}, {toText, "x y"}, {toEndTag, "</a>"}}},
        {"<A/></a/><a x='/'/>", {{toEmptyTag, "<A/>"}, {toEmptyTag, "</a/>"}, {toEmptyTag, "<a x='/'/>"}}},
        {"<?XML-STYLESHEET href=\"s.xsl\"?><?xml version=\"1.0\"?>",
         {{toXMLInstruction, "<?XML-STYLESHEET href=\"s.xsl\"?>"}, {toXMLInstruction, "<?xml version=\"1.0\"?>"}}},
        {"<!DOCTYPE d><?php x?>", {{toStartTag, "<!DOCTYPE d>"}, {toStartTag, "<?php x?>"}}},
        // Only '>' ends a tag, also inside a comment.
        {"<!-- a > b -->", {{toComment, "<!-- a >"}, {toText, "b -->"}}},
        // Input ends at its first zero byte.
        {std::string("<a>x\0<b>", 8), {{toStartTag, "<a>"}, {toText, "x"}}},
        // CR LF and LF CR pairs vanish without a trace; a lone CR or LF stays.
        {"<a\r\nb=\"1\">t\r\nu\n\rv\rw\nx</a>", {{toStartTag, "<ab=\"1\">"}, {toText, "tuv\rw\nx"}, {toEndTag, "</a>"}}},
        {"<a k=\"" + std::string(70, 'v') + "\r\n\" j=\"\n\r\">" + std::string(70, 't') + "\r\nu</a>",
         {{toStartTag, "<a k=\"" + std::string(70, 'v') + "\" j=\"\">"}, {toText, std::string(70, 't') + "u"}, {toEndTag, "</a>"}}},
        // A comment or an instruction is told by its start, whatever its end.
        {"<!-- <br/> --><?xml-x/>", {{toComment, "<!-- <br/>"}, {toText, "-->"}, {toXMLInstruction, "<?xml-x/>"}}},
        // Bytes above 127 are never blanks, nor a stop byte with its top bit set.
        {"\t\r\n \xA0x\xFC\xBC\n <b\xBE\x8D>", {{toText, "\xA0x\xFC\xBC"}, {toStartTag, "<b\xBE\x8D>"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(Tokenize(c.in), c.want) << c.in;
}

TEST(Tokenizer, SourceLineCountsBreaksBetweenTokensOnly) {
    struct Case { std::string in; int advances; int line; } cases[] = {
        {"<a>\n\n<b>", 1, 3},
        {"<a\n>\n<b>", 1, 2},          // inside a tag: not counted
        {"<a>x\ny\n\n<b>", 2, 3},      // inside a text run: not counted; after it: counted
        {"<a>\r\n<b>\r\n", 2, 3},
    };
    for (const auto& c : cases) {
        TBytesViewStream s(c.in);
        TXMLTokenizer t(s);
        for (int i = 0; i < c.advances; ++i) t.NextToken();
        EXPECT_EQ(t.SourceLine(), c.line) << c.in;
    }
}

TEST(Tokenizer, LineMustFitTheWindow) {
    const std::string x4094(4094, 'x');
    // line: 0 when `want` is read, else the line of the line-too-long error.
    struct Case { std::string in; Toks want; int line; } cases[] = {
        {std::string(4095, 'x'), {{toText, std::string(4095, 'x')}}, 0},
        {std::string(4096, 'x'), {}, 1},
        // The first and last byte of a full window are not searched for a line break.
        {"\n" + std::string(4095, 'x'), {}, 1},
        {std::string(4095, 'x') + "\n", {}, 1},
        {x4094 + "\nyy", {{toText, x4094}, {toText, "yy"}}, 0},
        {"<a>\n" + std::string(5000, 'x'), {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.size());
        if (c.line == 0) {
            EXPECT_EQ(Tokenize(c.in), c.want);
            continue;
        }
        try {
            Tokenize(c.in);
            ADD_FAILURE() << "no error";
        } catch (const EParserError& e) {
            EXPECT_EQ(e.Reason(), SLineTooLong);
            EXPECT_EQ(e.Line(), c.line);
            EXPECT_NE(std::string(e.what()).find(std::to_string(c.line)), std::string::npos);
        }
    }
}

TEST(Tokenizer, TagThatNeverEndsFailsAtEndOfInput) {
    Doc big;
    big.text = "<r>\n";
    for (int i = 0; i < 400; ++i) big.Line("<i>", "0123456789");
    struct Case { std::string in; int line; } cases[] = {
        {"<", 1}, {"<a", 1}, {"<a>x</a", 1}, {"<a>\n<b>\n<c", 3}, {std::string("<a\0>", 4), 1}, {big.text + "<b", 402},
    };
    for (const auto& c : cases) {
        try {
            Tokenize(c.in);
            ADD_FAILURE() << "no error for " << c.in.substr(0, 20);
        } catch (const EParserError& e) {
            EXPECT_EQ(e.Line(), c.line);
        }
    }
}

TEST(Tokenizer, TagAcrossWindowBoundaryIsCompletedByRefill) {
    // The tag holds a line break, so a full window may be cut inside it; every offset around the
    // 4096-byte boundary is tried. The text run behind the tag crosses the boundary and must still
    // arrive whole: after the tag the window is cut again at a line boundary.
    const std::string tag = "<item a=\"1\"\r\n b=\"2\">";
    std::string run;
    for (int w = 0; w < 20; ++w) run += (w ? " word" : "word") + std::to_string(w);
    for (int pad = 1; pad <= 64; ++pad) {
        Doc d;
        d.text = "<r>\n";
        d.tokens = {{toStartTag, "<r>"}};
        while (d.text.size() < 4030) d.Line("<i>", "0123456789");
        d.text += std::string(static_cast<size_t>(pad), 'p') + "\n";
        d.tokens.push_back({toText, std::string(static_cast<size_t>(pad), 'p')});
        const size_t tagAt = d.text.size();
        const size_t tagIndex = d.tokens.size();
        d.text += tag + run + "</item>\n<z/>\n</r>\n";
        d.tokens.insert(d.tokens.end(), {{toStartTag, "<item a=\"1\" b=\"2\">"}, {toText, run}, {toEndTag, "</item>"},
                                         {toEmptyTag, "<z/>"}, {toEndTag, "</r>"}});
        int line = 0;
        ASSERT_EQ(Tokenize(d.text, &line), d.tokens) << pad;
        EXPECT_EQ(line, static_cast<int>(std::count(d.text.begin(), d.text.end(), '\n'))) << pad;

        // Destroyed at that tag, the tokenizer leaves the stream at its first byte.
        TBytesViewStream s(d.text);
        {
            TXMLTokenizer t(s);
            for (size_t i = 0; i < tagIndex; ++i) t.NextToken();
        }
        EXPECT_EQ(s.Position(), static_cast<int64_t>(tagAt)) << pad;
    }
}

TEST(Tokenizer, DestructionLeavesStreamAtLastTokenStart) {
    // Starts at offset 5 of the stream; lines of 12 bytes, 3 tokens each at offsets 0, 3 and 7.
    const std::string prefix = "JUNK\n";
    Doc d;
    for (int i = 0; i < 600; ++i) d.Line("<i>", std::to_string(1000 + i));
    const int64_t within[] = {0, 3, 7};
    for (size_t stop : {size_t{0}, size_t{1}, size_t{880}, size_t{1799}, d.tokens.size()}) {
        TMemoryStream s(prefix + d.text);
        s.SetPosition(5);
        {
            TXMLTokenizer t(s);
            for (size_t i = 0; i < stop; ++i) t.NextToken();
            if (stop < d.tokens.size()) {
                EXPECT_EQ(t.TokenString(), d.tokens[stop].second);
            }
        }
        int64_t want = stop == d.tokens.size() ? s.Size() : 5 + 12 * static_cast<int64_t>(stop / 3) + within[stop % 3];
        EXPECT_EQ(s.Position(), want) << stop;
    }

    // Failing on its first token, the tokenizer still leaves the stream at the first byte it did
    // not consume.
    const std::pair<std::string, int64_t> failing[] = {{std::string(5000, 'x'), 5}, {" \n <a", 8}};
    for (const auto& [bad, at] : failing) {
        TMemoryStream s(prefix + bad);
        s.SetPosition(5);
        EXPECT_THROW(TXMLTokenizer{s}, EParserError);
        EXPECT_EQ(s.Position(), at) << bad.substr(0, 10);
    }
}

TEST(Tokenizer, LargeTokenizerHoldsWholeStream) {
    TBytesViewStream empty("");
    EXPECT_TRUE(Tokenize<TXMLLargeTokenizer>(empty).empty());

    const std::string longLine(6000, 'v');
    const std::string doc = "<a k=\"" + longLine + "\">\n<b/>\n";
    TBytesViewStream s(doc);
    EXPECT_EQ(Tokenize<TXMLLargeTokenizer>(s), (Toks{{toStartTag, "<a k=\"" + longLine + "\">"}, {toEmptyTag, "<b/>"}}));

    // The window is the stream's whole size, even when reading starts in the middle.
    TMemoryStream mid(std::string(5000, '\n') + "<c>" + std::string(5000, 'w'));
    mid.SetPosition(5000);
    EXPECT_EQ(Tokenize<TXMLLargeTokenizer>(mid), (Toks{{toStartTag, "<c>"}, {toText, std::string(5000, 'w')}}));
}
