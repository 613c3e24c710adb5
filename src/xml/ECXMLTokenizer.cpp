#include "xml/ECXMLTokenizer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/TextUtils.h"
#include "xml/ScanBytes.h"

namespace zel {

const char* const SLineTooLong = "Line too long";
const char* const STagTooLong = "Tag too long";
const char* const SUnterminatedTag = "Unterminated tag";

EParserError::EParserError(const std::string& reason, int line)
    : Exception(reason + " on line " + std::to_string(line)), FReason(reason), FLine(line) {}

TXMLTokenizer::TXMLTokenizer(TStream& stream, size_t windowSize, bool wholeStream)
    : FStream(stream), FBuffer(std::make_unique_for_overwrite<char[]>(windowSize + 1)), FBufEnd(windowSize), FWholeStream(wholeStream) {
    FBuffer[0] = '\0';  // the end-of-fill signal that makes the first scan fill the window
    try {
        NextToken();
    } catch (...) {
        // No destructor runs for a failed construction, so give the stream back here as it would.
        ReturnUnusedBytes();
        throw;
    }
}

TXMLTokenizer::~TXMLTokenizer() { ReturnUnusedBytes(); }

void TXMLTokenizer::ReturnUnusedBytes() noexcept {
    try {
        FStream.Seek(static_cast<int64_t>(FTokenPtr) - static_cast<int64_t>(FBufPtr), TSeekOrigin::soCurrent);
    } catch (...) {
        // Nothing can report here; the stream position is then simply left where reading stopped.
    }
}

void TXMLTokenizer::Error(const std::string& message) const { throw EParserError(message, FSourceLine); }

void TXMLTokenizer::SetSentinel() {
    FSaveChar = FBuffer[FSourceEnd];
    FBuffer[FSourceEnd] = '\0';
}

void TXMLTokenizer::ReadBuffer() {
    char* buf = FBuffer.get();
    buf[FSourceEnd] = FSaveChar;
    size_t count = FBufPtr - FSourcePtr;
    if (count > 0 && FSourcePtr > 0) std::memmove(buf, buf + FSourcePtr, count);
    FBufPtr = count;
    int64_t got = FStream.Read(buf + FBufPtr, static_cast<int64_t>(FBufEnd - FBufPtr));
    FBufPtr += static_cast<size_t>(std::max<int64_t>(got, 0));
    FSourcePtr = 0;
    FSourceEnd = FBufPtr;
    if (FSourceEnd == FBufEnd) {
        // A full window is cut after its last LF (offsets n-2 down to 1) so that text runs split at
        // line boundaries; the rest moves to the front with the next refill.
        bool found = false;
        for (size_t i = FBufEnd >= 2 ? FBufEnd - 2 : 0; i >= 1; --i) {
            if (buf[i] == '\n') {
                FSourceEnd = i + 1;
                found = true;
                break;
            }
        }
        if (!found && !FWholeStream) {
            SetSentinel();
            Error(SLineTooLong);
        }
    }
    SetSentinel();
}

void TXMLTokenizer::SkipBlanks() {
    const char* buf = FBuffer.get();
    for (;;) {
        char c = buf[FSourcePtr];
        if (c == '\0') {
            ReadBuffer();
            buf = FBuffer.get();
            if (buf[FSourcePtr] == '\0') return;
        } else if (c == '\n') {
            ++FSourceLine;
            ++FSourcePtr;
        } else if (IsBlank(c)) {
            ++FSourcePtr;
        } else {
            return;
        }
    }
}

void TXMLTokenizer::ScanTag() {
    size_t p = FSourcePtr + 1;
    bool lifted = false;
    for (;;) {
        char* buf = FBuffer.get();
        if (p < FSourceEnd) {
            // One scan for '>' or a zero byte; the zero at SourceEnd bounds it. A CR on the way is
            // noted, so that the token's text needs no second scan for line breaks.
            size_t stop = p;
            for (;;) {
                stop += xml::FindFirstOf<'>', '\0', '\r'>(buf + stop, FSourceEnd + 1 - stop);
                if (buf[stop] != '\r') break;
                FTokenHasCr = true;
                ++stop;
            }
            if (buf[stop] == '>') {
                FSourcePtr = stop + 1;
                if (lifted) CutAfterTag();
                return;
            }
            // Input ends at its first zero byte, so a zero inside a tag means it never closes.
            if (stop < FSourceEnd) Error(SUnterminatedTag);
            p = FSourceEnd;
        }
        if (FSourceEnd < FBufPtr) {
            // The window was cut at a line break inside this tag: take in the bytes behind the cut.
            buf[FSourceEnd] = FSaveChar;
            FSourceEnd = FBufPtr;
            SetSentinel();
            lifted = true;
            continue;
        }
        if (FTokenPtr == 0 && FBufPtr == FBufEnd) Error(FWholeStream ? SUnterminatedTag : STagTooLong);
        // Refill, keeping the bytes from the token's start, and go on scanning where we stopped.
        size_t available = FBufPtr - FTokenPtr;
        p -= FTokenPtr;
        FSourcePtr = FTokenPtr;
        FTokenPtr = 0;
        ReadBuffer();
        if (FBufPtr <= available) Error(SUnterminatedTag);
    }
}

void TXMLTokenizer::CutAfterTag() {
    // The cut of a full window was lifted to finish a tag. Cut again at the last line break behind the
    // tag (or right behind the tag when there is none), so the text after it still ends only at a
    // line boundary and an over-long line still raises the line-too-long error at the next refill.
    if (FBufPtr != FBufEnd) return;
    char* buf = FBuffer.get();
    buf[FSourceEnd] = FSaveChar;
    FSourceEnd = FSourcePtr;
    for (size_t i = FBufEnd >= 2 ? FBufEnd - 2 : 0; i >= FSourcePtr && i >= 1; --i) {
        if (buf[i] == '\n') {
            FSourceEnd = i + 1;
            break;
        }
    }
    SetSentinel();
}

void TXMLTokenizer::ScanText() {
    const char* buf = FBuffer.get();
    size_t start = FSourcePtr;
    // The run ends at '<' or at a zero byte (the one at SourceEnd or one in the data).
    size_t stop = start;
    for (;;) {
        stop += xml::FindFirstOf<'<', '\0', '\r'>(buf + stop, FSourceEnd + 1 - stop);
        if (buf[stop] != '\r') break;
        FTokenHasCr = true;
        ++stop;
    }
    while (stop > start && IsBlank(buf[stop - 1])) --stop;
    FSourcePtr = stop;
}

namespace {

// Case-insensitive prefix test, inline because it runs up to three times per tag.
inline bool StartsNoCase(std::string_view upperPrefix, std::string_view s) noexcept {
    if (s.size() < upperPrefix.size()) return false;
    for (size_t i = 0; i < upperPrefix.size(); ++i)
        if (UpperAscii(s[i]) != upperPrefix[i]) return false;
    return true;
}

}  // namespace

uint8_t TXMLTokenizer::NextToken() {
    SkipBlanks();
    FTokenPtr = FSourcePtr;
    FTokenHasCr = false;
    char c = FBuffer[FSourcePtr];
    if (c == '<') {
        ScanTag();
        const char* t = FBuffer.get() + FTokenPtr;
        std::string_view tag(t, FSourcePtr - FTokenPtr);
        // The tests in their order; the second character rules out most of them at once.
        const char second = tag.size() >= 2 ? tag[1] : '\0';
        if (second == '?' && StartsNoCase("<?XML", tag))
            FToken = toXMLInstruction;
        else if (second == '!' && StartsNoCase("<!--", tag))
            FToken = toComment;
        else if (tag.size() >= 2 && tag[tag.size() - 2] == '/' && tag.back() == '>')
            FToken = toEmptyTag;
        else if (second == '/')
            FToken = toEndTag;
        else
            FToken = toStartTag;
    } else if (c != '\0') {
        ScanText();
        FToken = toText;
    } else {
        FToken = toEOF;
    }
    return FToken;
}

std::string TXMLTokenizer::TokenString() const {
    std::string scratch;
    return std::string(TokenText(scratch));
}

std::string_view TXMLTokenizer::TokenText(std::string& scratch) const {
    std::string_view raw(FBuffer.get() + FTokenPtr, FSourcePtr - FTokenPtr);
    if (!FTokenHasCr) return raw;
    scratch = ReplaceAll(ReplaceAll(raw, "\r\n", ""), "\n\r", "");
    return scratch;
}

TXMLLargeTokenizer::TXMLLargeTokenizer(TStream& stream)
    : TXMLTokenizer(stream, static_cast<size_t>(std::max<int64_t>(stream.Size(), 1)), true) {}

}  // namespace zel
