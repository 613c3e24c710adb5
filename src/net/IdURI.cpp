#include "net/IdURI.h"

namespace zel {

namespace {

constexpr size_t npos = std::string_view::npos;

std::string_view Before(std::string_view s, size_t pos) { return pos == npos ? s : s.substr(0, pos); }
std::string_view After(std::string_view s, size_t pos) { return pos == npos ? std::string_view{} : s.substr(pos + 1); }

}  // namespace

void TIdURI::SetURI(std::string_view uri) {
    // 8-bit text has no multi-byte lead bytes, so every backslash is a slash.
    std::string text(uri);
    for (char& c : text)
        if (c == '\\') c = '/';
    *this = TIdURI();

    std::string_view rest = text;
    std::string leadingSlash;
    if (size_t sep = rest.find("://"); sep != npos) {
        Scheme = rest.substr(0, sep);
        rest = rest.substr(sep + 3);
        size_t slash = rest.find('/');
        std::string_view authority = Before(rest, slash);
        rest = After(rest, slash);
        if (size_t at = authority.find('@'); at != npos) {
            std::string_view userInfo = authority.substr(0, at);
            authority = authority.substr(at + 1);
            size_t colon = userInfo.find(':');
            Username = Before(userInfo, colon);
            Password = After(userInfo, colon);
            if (Username.empty()) Password.clear();
        }
        size_t open = authority.find('[');
        size_t close = open == npos ? npos : authority.find(']', open + 1);
        if (close != npos) {
            Host = authority.substr(open + 1, close - open - 1);
            Port = After(authority, authority.find(':', close + 1));
            IPVersion = Id_IPv6;
        } else {
            size_t colon = authority.find(':');
            Host = Before(authority, colon);
            Port = After(authority, colon);
        }
        leadingSlash = "/";
    }

    // The parameters start at the first "?" (or, without one, the first "="); the document is
    // what stands between the last "/" before them and them.
    size_t q = rest.find('?');
    if (q == npos) q = rest.find('=');
    size_t slash = rest.rfind('/', q == npos ? rest.size() : q);
    size_t docStart = slash == npos ? 0 : slash + 1;
    Path = leadingSlash + std::string(rest.substr(0, docStart));
    Document = rest.substr(docStart, (q == npos ? rest.size() : q) - docStart);
    if (q != npos) Params = rest.substr(q);

    if (size_t hash = Document.find('#'); hash != npos) {
        Fragment = Document.substr(hash + 1);
        Document.resize(hash);
    }
    if (Fragment.empty()) {
        if (size_t hash = Params.find('#'); hash != npos) {
            Fragment = Params.substr(hash + 1);
            Params.resize(hash);
        }
    }
}

}  // namespace zel
