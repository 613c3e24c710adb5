#pragma once
// The HTTP/1.1 client: Get(url) sends one GET over a TCP connection and returns the reply's body
// byte for byte, or raises. Redirects are not followed, nothing is decoded, no cookie or proxy is
// used; every body read is capped by MaxBodySize and a whole exchange can be bounded by
// ExchangeTimeout.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/IdException.h"
#include "net/IdHeaderList.h"
#include "net/IdTCPClient.h"
#include "net/IdURI.h"
#include "platform/Streams.h"

namespace zel {

enum TIdHTTPProtocolVersion : uint8_t { pv1_0, pv1_1 };
enum TIdHTTPMethod : uint8_t { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };

// --- exceptions ---
class EIdReplyError : public EIdException {
public:
    using EIdException::EIdException;
};
class EIdReplyRFCError : public EIdReplyError {
public:
    using EIdReplyError::EIdReplyError;
};
// A reply with a failing status: the message is the status line, ErrorCode the status code and
// ErrorMessage the body of the failing reply.
class EIdHTTPProtocolException : public EIdReplyRFCError {
public:
    EIdHTTPProtocolException(int32_t errorCode, const std::string& statusLine, std::string body)
        : EIdReplyRFCError(statusLine), FErrorCode(errorCode), FErrorMessage(std::move(body)) {}
    int32_t ErrorCode() const noexcept { return FErrorCode; }
    const std::string& ErrorMessage() const noexcept { return FErrorMessage; }

private:
    int32_t FErrorCode;
    std::string FErrorMessage;
};
// A URL whose scheme gives no port (empty message).
class EIdUnknownProtocol : public EIdException {
public:
    EIdUnknownProtocol() : EIdException("") {}
};
class EIdIOHandlerPropInvalid : public EIdException {
public:
    EIdIOHandlerPropInvalid() : EIdException("IOHandler value is not valid") {}
};
class EIdAlreadyRegisteredAuthenticationMethod : public EIdException {
public:
    using EIdException::EIdException;
};

// --- authentication schemes ---
// A scheme that turns credentials into an "Authorization" value.
class TIdAuthentication {
public:
    virtual ~TIdAuthentication() = default;
    std::string Username;
    std::string Password;
    TIdHeaderList AuthParams;  // the reply's offers ("WWW-Authenticate" values)
    // Whether a request with these credentials may be sent.
    virtual bool CanAuthenticate() const = 0;
    // The "Authorization" header value.
    virtual std::string Authentication() const = 0;
};

class TIdBasicAuthentication : public TIdAuthentication {
public:
    bool CanAuthenticate() const override { return !Username.empty(); }
    std::string Authentication() const override;  // "Basic " + base64(user:password)
};

using TIdAuthenticationFactory = std::function<std::unique_ptr<TIdAuthentication>()>;
// The process-wide registry, filled while the library loads ("Basic") and only read afterwards.
// EIdAlreadyRegisteredAuthenticationMethod for a name (any case) that is registered already.
void RegisterAuthenticationMethod(const std::string& name, const std::string& className, TIdAuthenticationFactory factory);
// The factory of a registered scheme (names without regard to case), or null.
const TIdAuthenticationFactory* FindAuthenticationMethod(std::string_view name);

// --- header records ---
class TIdEntityHeaderInfo {
public:
    TIdEntityHeaderInfo() = default;
    virtual ~TIdEntityHeaderInfo() = default;
    TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
    TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

    std::string CacheControl, Connection, ContentEncoding, ContentLanguage, ContentType, ContentVersion, Pragma;
    // -1: none. Setting it marks it present when it is 0 or more.
    int64_t ContentLength() const noexcept { return FContentLength; }
    void SetContentLength(int64_t value) noexcept {
        FContentLength = value;
        FHasContentLength = value >= 0;
    }
    bool HasContentLength() const noexcept { return FHasContentLength; }
    TIdHeaderList CustomHeaders;
    TIdHeaderList RawHeaders{1024};

    virtual void Clear();

private:
    int64_t FContentLength = -1;
    bool FHasContentLength = false;
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdRequestHeaderInfo() { Clear(); }
    std::string Accept, AcceptCharSet, AcceptEncoding, AcceptLanguage, From, Referer, UserAgent, Host, Username, Password,
        ProxyConnection;
    bool BasicAuthentication = false;
    // The scheme attached on a 401 (none at first); it writes the "Authorization" header.
    std::unique_ptr<TIdAuthentication> Authentication;

    void Clear() override;
    // Rebuilds RawHeaders from the fields.
    void SetHeaders();
};

class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
    std::string URL;  // the request target
    TIdHTTPMethod Method = hmGet;
    TIdIPVersion IPVersion = Id_IPv4;
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdResponseHeaderInfo() { Clear(); }
    std::string Location, Server, ProxyConnection;
    TIdHeaderList WWWAuthenticate, ProxyAuthenticate;

    void Clear() override;
    // Takes the fields from RawHeaders; EIdException when Content-Length lines state different lengths.
    void ProcessHeaders();
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
    std::string ResponseText;     // the status line
    std::string ResponseVersion;  // "1.0", "1.1" or "" (from the status line)
    TStream* ContentStream = nullptr;  // where the body goes
    // The status code read from the status line; -1 when it is not a number.
    int32_t ResponseCode() const;
};

// The request and response records of one client, kept for the client's whole life.
class TIdHTTPProtocol {
public:
    TIdHTTPRequest Request;
    TIdHTTPResponse Response;
};

// --- the client ---
class TIdCustomHTTP : public TIdTCPClientCustom {
public:
    static constexpr int64_t kDefaultMaxBodySize = 16 << 20;

    TIdCustomHTTP();
    ~TIdCustomHTTP() override;

    TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
    int32_t MaxAuthRetries = 3;
    int32_t AuthRetries = 0;
    int32_t AuthProxyRetries = 0;
    int32_t MaxHeaderLines = 255;  // a longer head raises "Too many header lines."
    // Every body read, error bodies and the sum of chunks included, stops here with
    // EIdException "Response too large.".
    int64_t MaxBodySize = kDefaultMaxBodySize;
    // Milliseconds for the whole Get, connect included (0: no bound).
    int32_t ExchangeTimeout = 0;

    TIdHTTPRequest& Request() noexcept { return FHTTPProto.Request; }
    TIdHTTPResponse& Response() noexcept { return FHTTPProto.Response; }
    // The URL of the last request; its parts carry over to the next.
    const TIdURI& URL() const noexcept { return FURL; }
    int32_t ResponseCode() const { return FHTTPProto.Response.ResponseCode(); }
    const std::string& ResponseText() const noexcept { return FHTTPProto.Response.ResponseText; }

    // The body of the reply to a GET of `url`, byte for byte. Raises on any failure, on a reply
    // whose status is not a success, and on a body shorter than its Content-Length.
    std::string Get(const std::string& url);

private:
    void DoRequest(TIdHTTPMethod method, const std::string& url, TStream& sink);
    void PrepareRequest();
    void ConnectToHost();
    void SendRequestHead();
    void ReadHead();
    void DecideOnReply(TStream& sink);
    [[noreturn]] void FailWithReply();
    bool Authorize();
    void ReadBody(TStream& sink);
    void ReadChunked(TStream& sink);
    bool KeepAlive();

    TIdHTTPProtocol FHTTPProto;
    TIdHTTPRequest& FRequest = FHTTPProto.Request;
    TIdHTTPResponse& FResponse = FHTTPProto.Response;
    TIdURI FURL;
};

class TIdHTTP : public TIdCustomHTTP {};

}  // namespace zel
