#pragma once
// Splits 8-bit XML text into coarse tokens (tags by kind, text runs, end of input) through a window
// that is refilled at line boundaries. Well-formedness is not checked: the item loader interprets
// names, attributes and entities.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Exceptions.h"
#include "platform/Streams.h"

namespace zel {

class EParserError : public Exception {
public:
    EParserError(const std::string& reason, int line);
    const std::string& Reason() const noexcept { return FReason; }
    int Line() const noexcept { return FLine; }

private:
    std::string FReason;
    int FLine;
};

extern const char* const SLineTooLong;
extern const char* const STagTooLong;
extern const char* const SUnterminatedTag;

enum : uint8_t {
    toEOF = 0,
    toComment = 6,
    toXMLInstruction = 8,
    toText = 9,
    toStartTag = 10,
    toEndTag = 11,
    toEmptyTag = 12,
};

class TXMLTokenizer {
public:
    static constexpr size_t ParseBufSize = 4096;

    // Reads the first token; an error of the first fill leaves the constructor.
    explicit TXMLTokenizer(TStream& stream) : TXMLTokenizer(stream, ParseBufSize) {}
    // Leaves the stream at the first byte of the last token read.
    virtual ~TXMLTokenizer();
    TXMLTokenizer(const TXMLTokenizer&) = delete;
    TXMLTokenizer& operator=(const TXMLTokenizer&) = delete;

    uint8_t NextToken();
    uint8_t Token() const noexcept { return FToken; }
    std::string TokenString() const;
    // The same text without a copy: a view into the window, valid until the next token, or, when
    // line breaks had to be removed, a view of `scratch`, which then holds the text.
    std::string_view TokenText(std::string& scratch) const;
    int SourceLine() const noexcept { return FSourceLine; }
    [[noreturn]] void Error(const std::string& message) const;

protected:
    // A whole-stream window holds all that is left of the stream, so it has no line limit: a full
    // window without a line break is scanned whole instead of raising the line-too-long error.
    TXMLTokenizer(TStream& stream, size_t windowSize, bool wholeStream = false);

private:
    // Seeks the stream back to the start of the current token.
    void ReturnUnusedBytes() noexcept;
    void ReadBuffer();
    void SkipBlanks();
    void ScanTag();
    void CutAfterTag();
    void ScanText();
    void SetSentinel();

    TStream& FStream;
    // One byte more than the window, so the end-of-fill zero always has a place.
    std::unique_ptr<char[]> FBuffer;
    size_t FBufPtr = 0;
    size_t FBufEnd = 0;
    size_t FSourcePtr = 0;
    size_t FSourceEnd = 0;
    size_t FTokenPtr = 0;
    int FSourceLine = 1;
    char FSaveChar = 0;
    uint8_t FToken = toEOF;
    bool FTokenHasCr = false;  // the current token holds a CR, so its text may hold a line break
    bool FWholeStream;
};

// Holds the whole stream in its window; used when a line or a tag does not fit the 4096-byte window.
class TXMLLargeTokenizer : public TXMLTokenizer {
public:
    explicit TXMLLargeTokenizer(TStream& stream);
};

}  // namespace zel
