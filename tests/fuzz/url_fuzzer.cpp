// Arbitrary text as a URL: every part the parser yields is a piece of the text as written (with
// backslashes read as slashes), and parsing the same text again gives the same parts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "net/IdURI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zel;
    std::string text(reinterpret_cast<const char*>(data), size);
    TIdURI uri(text);
    for (char& c : text)
        if (c == '\\') c = '/';
    const std::string path = uri.Path.starts_with("/") && text.find("://") != std::string::npos ? uri.Path.substr(1) : uri.Path;
    for (const std::string* part : std::initializer_list<const std::string*>{&uri.Scheme, &uri.Username, &uri.Password, &uri.Host, &uri.Port, &path, &uri.Document,
                                    &uri.Params, &uri.Fragment})
        if (text.find(*part) == std::string::npos) std::abort();
    if (uri.Password.size() > 0 && uri.Username.empty()) std::abort();
    TIdURI again(text);
    if (again.Host != uri.Host || again.Path != uri.Path || again.Params != uri.Params || again.IPVersion != uri.IPVersion)
        std::abort();
    return 0;
}
