// Arbitrary bytes as the reply to a GET: the client must return a body no larger than what it was
// fed and its cap, or raise a member of its own exception family; never anything else.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "ScriptedHandler.h"
#include "net/IdHTTP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zel;
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    fuzz::TScriptedHandler handler(script);
    TIdHTTP http;
    http.MaxBodySize = 4096;
    http.SetIOHandler(&handler);
    try {
        std::string body = http.Get("http://127.0.0.1/xml");
        if (body.size() > size || body.size() > 4096) {
            std::fprintf(stderr, "a body of %zu bytes from %zu fed\n", body.size(), size);
            std::abort();
        }
    } catch (const EIdHTTPProtocolException& e) {
        if (e.ErrorMessage().size() > 4096) std::abort();
    } catch (const EIdException&) {
    }
    if (handler.Opens != 1 || handler.Sent == 0) std::abort();  // one request, always sent
    http.SetIOHandler(nullptr);
    return 0;
}
