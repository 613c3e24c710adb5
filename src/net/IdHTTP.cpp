#include "net/IdHTTP.h"

#include <vector>

#include "platform/TextUtils.h"

namespace zel {

namespace {

const char* const kMethodNames[] = {"HEAD", "GET", "POST", "OPTIONS", "TRACE", "PUT", "DELETE", "CONNECT"};

[[noreturn]] void TooLarge() { throw EIdException("Response too large."); }

struct TAuthEntry {
    std::string Name;
    std::string ClassName;
    TIdAuthenticationFactory Factory;
};

std::vector<TAuthEntry>& AuthRegistry() {
    static std::vector<TAuthEntry> registry;
    return registry;
}

// Filled while the library loads; only read afterwards, so it needs no lock.
const bool kBasicRegistered = [] {
    RegisterAuthenticationMethod("Basic", "TIdBasicAuthentication", [] { return std::make_unique<TIdBasicAuthentication>(); });
    return true;
}();

std::string Base64(std::string_view bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

// A decimal Content-Length; -1 when it is not one (a sign, blanks inside, nothing), and the
// largest value for digits beyond 64 bits, so that the size check refuses them.
int64_t ParseContentLength(std::string_view text) {
    if (text.empty()) return -1;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value > (INT64_MAX - 9) / 10 ? INT64_MAX : value * 10 + (c - '0');
    }
    return value;
}

// The length the Content-Length lines state (-1: none, or none readable). Lines that state
// different lengths leave no way to tell where the body ends, so they refuse the reply.
int64_t ContentLengthOf(const TIdHeaderList& headers) {
    TStringList values;
    headers.Extract("Content-Length", &values);
    const int64_t length = values.Count() > 0 ? ParseContentLength(values.Strings(0)) : -1;
    for (const std::string& value : values.Lines())
        if (ParseContentLength(value) != length) throw EIdException("Conflicting Content-Length values.");
    return length;
}

// The size of a chunk: hexadecimal from the line's first byte up to the first blank or ";" (a
// chunk extension follows it), fitting 32 bits; anything else is no chunk size at all.
int64_t ChunkSize(std::string_view line) {
    size_t end = 0;
    while (end < line.size() && !IsBlank(line[end]) && line[end] != ';') ++end;
    const std::string_view text = line.substr(0, end);
    if (text.empty()) throw EIdException("Invalid chunk size.");
    int64_t size = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) throw EIdException("Invalid chunk size.");
        size = size * 16 + digit;
        if (size > UINT32_MAX) throw EIdException("Invalid chunk size.");
    }
    return size;
}

// Control bytes in a URL part would end up as extra lines of the request head, and a blank would
// split the request line into more than its three fields.
bool BreaksRequestHead(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) <= 32 || c == 127) return true;
    return false;
}

bool ContainsText(std::string_view s, std::string_view part) { return UpperCase(s).find(UpperCase(part)) != std::string::npos; }

}  // namespace

// --- authentication ---

std::string TIdBasicAuthentication::Authentication() const { return "Basic " + Base64(Username + ":" + Password); }

void RegisterAuthenticationMethod(const std::string& name, const std::string& className, TIdAuthenticationFactory factory) {
    for (const auto& e : AuthRegistry())
        if (SameText(e.Name, name))
            throw EIdAlreadyRegisteredAuthenticationMethod("This authentication method is already registered with class name " +
                                                           e.ClassName + ".");
    AuthRegistry().push_back({name, className, std::move(factory)});
}

const TIdAuthenticationFactory* FindAuthenticationMethod(std::string_view name) {
    (void)kBasicRegistered;
    for (const auto& e : AuthRegistry())
        if (SameText(e.Name, name)) return &e.Factory;
    return nullptr;
}

// --- header records ---

void TIdEntityHeaderInfo::Clear() {
    Connection.clear();
    ContentVersion.clear();
    ContentEncoding.clear();
    ContentLanguage.clear();
    ContentType.clear();
    SetContentLength(-1);
    RawHeaders.Clear();
}

void TIdRequestHeaderInfo::Clear() {
    Accept = "text/html, */*";
    AcceptCharSet.clear();
    UserAgent = "Mozilla/3.0 (compatible; Net Library)";
    BasicAuthentication = false;
    TIdEntityHeaderInfo::Clear();
}

void TIdRequestHeaderInfo::SetHeaders() {
    RawHeaders.Clear();
    auto set = [this](std::string_view name, const std::string& value) {
        if (!value.empty()) RawHeaders.SetValues(name, value);
    };
    set("Connection", Connection);
    set("Content-Version", ContentVersion);
    set("Content-Encoding", ContentEncoding);
    set("Content-Language", ContentLanguage);
    set("Content-Type", ContentType);
    if (ContentLength() >= 0) set("Content-Length", std::to_string(ContentLength()));
    set("Cache-control", CacheControl);
    set("Pragma", Pragma);
    for (const auto& line : CustomHeaders.Lines()) RawHeaders.Add(line);
    set("Proxy-Connection", ProxyConnection);
    set("Host", Host);
    set("Accept", Accept);
    set("Accept-Charset", AcceptCharSet);
    set("Accept-Encoding", AcceptEncoding);
    set("Accept-Language", AcceptLanguage);
    set("From", From);
    set("Referer", Referer);
    set("User-Agent", UserAgent);
    if (Authentication) {
        set("Authorization", Authentication->Authentication());
    } else if (BasicAuthentication) {
        TIdBasicAuthentication basic;
        basic.Username = Username;
        basic.Password = Password;
        set("Authorization", basic.Authentication());
    }
}

void TIdResponseHeaderInfo::Clear() {
    TIdEntityHeaderInfo::Clear();
    ContentType = "text/html";
}

void TIdResponseHeaderInfo::ProcessHeaders() {
    Connection = RawHeaders.Values("Connection");
    ContentVersion = RawHeaders.Values("Content-Version");
    ContentEncoding = RawHeaders.Values("Content-Encoding");
    ContentLanguage = RawHeaders.Values("Content-Language");
    ContentType = RawHeaders.Values("Content-Type");
    Pragma = RawHeaders.Values("Pragma");
    SetContentLength(ContentLengthOf(RawHeaders));
    Location = RawHeaders.Values("Location");
    Server = RawHeaders.Values("Server");
    ProxyConnection = RawHeaders.Values("Proxy-Connection");
    WWWAuthenticate.Clear();
    RawHeaders.Extract("WWW-Authenticate", &WWWAuthenticate);
    ProxyAuthenticate.Clear();
    RawHeaders.Extract("Proxy-Authenticate", &ProxyAuthenticate);
}

int32_t TIdHTTPResponse::ResponseCode() const {
    size_t space = ResponseText.find(' ');
    std::string code = space == std::string::npos ? std::string() : Trim(std::string_view(ResponseText).substr(space + 1));
    code.resize(std::min(code.size(), code.find(' ')));
    try {
        return StrToInt(code);
    } catch (const EConvertError&) {
        return -1;
    }
}

// --- the client ---

TIdCustomHTTP::TIdCustomHTTP() = default;
TIdCustomHTTP::~TIdCustomHTTP() = default;

std::string TIdCustomHTTP::Get(const std::string& url) {
    TMemoryStream sink;
    DoRequest(hmGet, url, sink);
    return sink.DataString();
}

void TIdCustomHTTP::DoRequest(TIdHTTPMethod method, const std::string& url, TStream& sink) {
    AuthRetries = 0;
    AuthProxyRetries = 0;
    FRequest.URL = url;
    FRequest.Method = method;
    FResponse.ContentStream = &sink;
    Deadline = ExchangeTimeout > 0 ? MonotonicMs() + ExchangeTimeout : 0;
    if (IOHandler()) IOHandler()->Deadline = Deadline;
    // At the end: disconnect unless the reply was read whole and lets the connection stay.
    auto endExchange = [this](bool replyComplete) {
        bool keep = false;
        try {
            keep = replyComplete && KeepAlive();
        } catch (const EIdException&) {
            // A connection that fails its check is not kept; the reply itself stands or fell already.
        }
        if (!keep) Disconnect();
        Deadline = 0;
        if (IOHandler()) IOHandler()->Deadline = 0;
        FResponse.ContentStream = nullptr;
    };
    try {
        PrepareRequest();
        ConnectToHost();
        // Interim "100 Continue" heads are read and dropped, a bounded number of them.
        for (int interim = 0;; ++interim) {
            ReadHead();
            if (FResponse.ResponseCode() != 100) break;
            if (interim == 8) throw EIdException("Too many interim responses.");
        }
        DecideOnReply(sink);
    } catch (const EIdHTTPProtocolException&) {
        endExchange(true);  // a failing status, but its reply was read to the end
        throw;
    } catch (...) {
        // Anything else may have left a reply half read: the connection cannot serve another.
        endExchange(false);
        throw;
    }
    endExchange(true);
}

void TIdCustomHTTP::PrepareRequest() {
    TIdURI parsed(FRequest.URL);
    if (!parsed.Username.empty()) {
        FRequest.Username = parsed.Username;
        FRequest.Password = parsed.Password;
    }
    FURL.Username = FRequest.Username;
    FURL.Password = FRequest.Password;
    // An absolute URL always yields a path from the root; a relative one continues the current.
    FURL.Path = StartsText("/", parsed.Path) ? parsed.Path : FURL.Path + parsed.Path;
    FURL.Document = parsed.Document;
    FURL.Params = parsed.Params;
    if (!parsed.Host.empty()) FURL.Host = parsed.Host;
    if (!parsed.Scheme.empty())
        FURL.Scheme = parsed.Scheme;
    else
        FURL.Scheme = SameText(FURL.Scheme, "https") ? "https" : "http";
    if (!parsed.Port.empty())
        FURL.Port = parsed.Port;
    else if (SameText(parsed.Scheme, "http"))
        FURL.Port = "80";
    else if (SameText(parsed.Scheme, "https"))
        FURL.Port = "443";
    else if (FURL.Port.empty())
        throw EIdUnknownProtocol();
    for (const std::string* part : {&FURL.Host, &FURL.Port, &FURL.Path, &FURL.Document, &FURL.Params})
        if (BreaksRequestHead(*part)) throw EIdException("Invalid URL.");
    FRequest.URL = FURL.Path + FURL.Document + FURL.Params;
    FRequest.IPVersion = parsed.IPVersion;
    FURL.IPVersion = parsed.IPVersion;
    FRequest.SetContentLength(-1);
    FRequest.Host = FURL.Port != "80" ? FURL.Host + ":" + FURL.Port : FURL.Host;
}

void TIdCustomHTTP::ConnectToHost() {
    const int32_t port = StrToInt(FURL.Port);
    if (IsConnected()) Disconnect();
    if (SameText(FURL.Scheme, "https")) throw EIdIOHandlerPropInvalid();
    Host = FURL.Host;
    Port = port;
    if (ProtocolVersion == pv1_0 && FRequest.Connection.empty()) FRequest.Connection = "keep-alive";
    if (FRequest.AcceptEncoding.find("identity") == std::string::npos) FRequest.AcceptEncoding += "identity";
    if (!KeepAlive()) Disconnect();
    CheckGracefulDisconnect(false);
    if (!IsConnected()) {
        IPVersion = FURL.IPVersion;
        Connect();
    }
    SendRequestHead();
}

void TIdCustomHTTP::SendRequestHead() {
    FRequest.SetHeaders();
    TIdIOHandler& io = *IOHandler();
    io.OpenWriteBuffer();
    try {
        io.WriteLine(std::string(kMethodNames[FRequest.Method]) + " " + FRequest.URL + " HTTP/" +
                     (ProtocolVersion == pv1_0 ? "1.0" : "1.1"));
        for (const auto& line : FRequest.RawHeaders.Lines())
            if (!line.empty()) io.WriteLine(line);
        io.WriteLine("");
        io.CloseWriteBuffer();  // the whole head in one send
    } catch (...) {
        io.CancelWriteBuffer();
        throw;
    }
}

void TIdCustomHTTP::ReadHead() {
    TIdIOHandler& io = *IOHandler();
    FResponse.ResponseText = io.ReadLine();
    FResponse.RawHeaders.Clear();
    std::string line = io.ReadLine();
    try {
        for (int count = 1; !line.empty(); ++count) {
            if (count > MaxHeaderLines) throw EIdException("Too many header lines.");
            FResponse.RawHeaders.Add(std::move(line));
            line = io.ReadLine();
        }
    } catch (const EIdConnClosedGracefully&) {
        // A peer that closes inside the head ends it; the reply is decided on what came.
        Disconnect();
    }
    FResponse.ProcessHeaders();
}

void TIdCustomHTTP::DecideOnReply(TStream& sink) {
    const int32_t code = FResponse.ResponseCode();
    const int32_t kind = code / 100;
    // Redirects are not followed, so a redirect, or any reply naming another place, failed.
    if ((kind == 3 && code != 304) || !FResponse.Location.empty()) FailWithReply();
    if (kind == 2) {
        if (code != 204) ReadBody(sink);
        return;
    }
    if (code == 401) {
        if (AuthRetries >= MaxAuthRetries || !Authorize()) FRequest.Authentication.reset();
        // Credentials are never retried within the exchange, so the 401 page is never a result.
        FailWithReply();
    }
    FailWithReply();
}

bool TIdCustomHTTP::Authorize() {
    ++AuthRetries;
    if (!FRequest.Authentication) {
        for (const auto& offer : FResponse.WWWAuthenticate.Lines()) {
            std::string_view scheme = std::string_view(offer).substr(0, offer.find(' '));
            if (const auto* factory = FindAuthenticationMethod(scheme)) {
                FRequest.Authentication = (*factory)();
                break;
            }
        }
        if (!FRequest.Authentication) return false;
    }
    if (Trim(FRequest.Password).empty()) return false;
    TIdAuthentication& auth = *FRequest.Authentication;
    auth.Username = FRequest.Username;
    auth.Password = FRequest.Password;
    auth.AuthParams.Assign(FResponse.WWWAuthenticate);
    return auth.CanAuthenticate();
}

void TIdCustomHTTP::FailWithReply() {
    TMemoryStream body;  // never the caller's sink
    ReadBody(body);
    throw EIdHTTPProtocolException(FResponse.ResponseCode(), FResponse.ResponseText, body.DataString());
}

void TIdCustomHTTP::ReadBody(TStream& sink) {
    TIdIOHandler& io = *IOHandler();
    // Chunk framing wins over a Content-Length sent alongside it.
    if (ContainsText(FResponse.RawHeaders.Values("Transfer-Encoding"), "chunked")) return ReadChunked(sink);
    const int64_t length = FResponse.ContentLength();
    if (length > 0) {
        if (length > MaxBodySize) TooLarge();
        const int64_t start = sink.Position();
        try {
            io.ReadToStream(sink, length, false);
        } catch (const EIdConnClosedGracefully&) {
            // The peer's close ends the read; whether the body is whole is decided below.
        }
        // The read also stops short without raising when the close was noticed before it began.
        // Half a body taken as a whole one would hand the caller a truncated document.
        if (sink.Position() - start < length) throw EIdException("Connection closed before the whole body arrived.");
    } else if (!FResponse.HasContentLength()) {
        // Up to the peer's close; one byte beyond the cap shows the body is too large.
        const int64_t start = sink.Position();
        try {
            io.ReadToStream(sink, MaxBodySize + 1, false);
        } catch (const EIdConnClosedGracefully&) {
        }
        if (sink.Position() - start > MaxBodySize) TooLarge();
    }
}

void TIdCustomHTTP::ReadChunked(TStream& sink) {
    TIdIOHandler& io = *IOHandler();
    int64_t total = 0;
    for (int64_t size = ChunkSize(io.ReadLine()); size > 0; size = ChunkSize(io.ReadLine())) {
        total += size;
        if (total > MaxBodySize) TooLarge();
        io.ReadToStream(sink, size, false);
        io.ReadLine();  // the line end after the chunk's data
    }
    io.ReadLine();  // the empty line that ends the body (trailers are not read)
}

bool TIdCustomHTTP::KeepAlive() {
    const std::string& status = FResponse.ResponseText;
    std::string version = status.size() > 5 ? status.substr(5, 3) : std::string();
    FResponse.ResponseVersion = SameText(version, "1.0") ? "1.0" : SameText(version, "1.1") ? "1.1" : "";
    if (!IsConnected()) return false;
    const std::string connection = Trim(FResponse.Connection);
    const std::string proxyConnection = Trim(FResponse.ProxyConnection);
    if (ProtocolVersion == pv1_0) return SameText(connection, "KEEP-ALIVE") || SameText(proxyConnection, "KEEP-ALIVE");
    return !SameText(connection, "CLOSE") && !SameText(proxyConnection, "CLOSE");
}

}  // namespace zel
