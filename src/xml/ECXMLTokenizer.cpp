#include "xml/ECXMLTokenizer.h"

#include <algorithm>
#include <cstring>

#include "platform/TextUtils.h"

namespace zel {

const char* const SLineTooLong = "Line too long";
const char* const SUnterminatedTag = "Unterminated tag";

EParserError::EParserError(const std::string& reason, int line)
    : Exception(reason + " on line " + std::to_string(line)), FReason(reason), FLine(line) {}

TXMLTokenizer::TXMLTokenizer(TStream& stream, size_t windowSize)
    : FStream(stream), FBuffer(windowSize + 1, '\0'), FBufEnd(windowSize) {
    NextToken();
}

TXMLTokenizer::~TXMLTokenizer() {
    try {
        FStream.Seek(static_cast<int64_t>(FTokenPtr) - static_cast<int64_t>(FBufPtr), TSeekOrigin::soCurrent);
    } catch (...) {
        // A destructor cannot report; the stream position is then simply left where reading stopped.
    }
}

void TXMLTokenizer::Error(const std::string& message) const { throw EParserError(message, FSourceLine); }

void TXMLTokenizer::SetSentinel() {
    FSaveChar = FBuffer[FSourceEnd];
    FBuffer[FSourceEnd] = '\0';
}

void TXMLTokenizer::ReadBuffer() {
    char* buf = FBuffer.data();
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
        if (!found) {
            SetSentinel();
            Error(SLineTooLong);
        }
    }
    SetSentinel();
}

void TXMLTokenizer::SkipBlanks() {
    const char* buf = FBuffer.data();
    for (;;) {
        char c = buf[FSourcePtr];
        if (c == '\0') {
            ReadBuffer();
            buf = FBuffer.data();
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
    for (;;) {
        char* buf = FBuffer.data();
        if (p < FSourceEnd) {
            size_t len = FSourceEnd - p;
            const void* gt = std::memchr(buf + p, '>', len);
            size_t stop = gt ? static_cast<size_t>(static_cast<const char*>(gt) - buf) : FSourceEnd;
            // Input ends at its first zero byte, so a zero inside a tag means it never closes.
            if (std::memchr(buf + p, '\0', stop - p)) Error(SUnterminatedTag);
            if (gt) {
                FSourcePtr = stop + 1;
                return;
            }
            p = FSourceEnd;
        }
        if (FSourceEnd < FBufPtr) {
            // The window was cut at a line break inside this tag: take in the bytes behind the cut.
            buf[FSourceEnd] = FSaveChar;
            FSourceEnd = FBufPtr;
            SetSentinel();
            continue;
        }
        if (FTokenPtr == 0 && FBufPtr == FBufEnd) Error(SLineTooLong);
        // Refill, keeping the bytes from the token's start, and go on scanning where we stopped.
        size_t available = FBufPtr - FTokenPtr;
        p -= FTokenPtr;
        FSourcePtr = FTokenPtr;
        FTokenPtr = 0;
        ReadBuffer();
        if (FBufPtr <= available) Error(SUnterminatedTag);
    }
}

void TXMLTokenizer::ScanText() {
    const char* buf = FBuffer.data();
    size_t start = FSourcePtr;
    size_t len = FSourceEnd - start;
    const void* lt = std::memchr(buf + start, '<', len);
    size_t stop = lt ? static_cast<size_t>(static_cast<const char*>(lt) - buf) : FSourceEnd;
    if (const void* z = std::memchr(buf + start, '\0', stop - start))
        stop = static_cast<size_t>(static_cast<const char*>(z) - buf);
    while (stop > start && IsBlank(buf[stop - 1])) --stop;
    FSourcePtr = stop;
}

uint8_t TXMLTokenizer::NextToken() {
    SkipBlanks();
    FTokenPtr = FSourcePtr;
    char c = FBuffer[FSourcePtr];
    if (c == '<') {
        ScanTag();
        const char* t = FBuffer.data() + FTokenPtr;
        std::string_view tag(t, FSourcePtr - FTokenPtr);
        if (StartsText("<?xml", tag))
            FToken = toXMLInstruction;
        else if (StartsText("<!--", tag))
            FToken = toComment;
        else if (tag.size() >= 2 && tag.substr(tag.size() - 2) == "/>")
            FToken = toEmptyTag;
        else if (StartsText("</", tag))
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
    std::string_view raw(FBuffer.data() + FTokenPtr, FSourcePtr - FTokenPtr);
    if (raw.find('\r') == std::string_view::npos) return std::string(raw);
    return ReplaceAll(ReplaceAll(raw, "\r\n", ""), "\n\r", "");
}

TXMLLargeTokenizer::TXMLLargeTokenizer(TStream& stream)
    : TXMLTokenizer(stream, static_cast<size_t>(std::max<int64_t>(stream.Size(), 1))) {}

}  // namespace zel
