// Feeds arbitrary bytes to the URL parser, the resolver and the percent
// codecs, and checks the invariants that must hold for any input.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/Format.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/SecretMasking.h"
#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"

using namespace ns;

static void check(bool ok) {
    if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first line is a base, the rest a reference.
    size_t nl = input.find('\n');
    std::string_view first = input.substr(0, nl);
    std::string_view second = nl == std::string_view::npos ? std::string_view() : input.substr(nl + 1);

    Ref<URL> a = URL::URLWithString(first);
    if (a) {
        // Parsing is lossless: the text recomposes to itself and parses again.
        check(a->absoluteText() == first);
        Ref<URL> again = URL::URLWithString(a->absoluteText());
        check(again && again->isEqual(*a));
        (void)a->host(); (void)a->port(); (void)a->user(); (void)a->password();
        (void)a->path(); (void)a->lastPathComponent(); (void)a->pathExtension();
        (void)a->resourceSpecifier();
        Ref<URL> appended = a->URLByAppendingPathComponent(second);
        if (appended) check(URL::URLWithString(appended->absoluteText()) != nullptr);
        Ref<URL> trimmed = a->URLByDeletingLastPathComponent();
        if (trimmed && !trimmed->absoluteText().empty())
            check(URL::URLWithString(trimmed->absoluteText()) != nullptr);
        if (a->scheme()) {
            Ref<URL> r = URL::URLWithStringRelativeToURL(second, a);
            if (r) {
                // A resolved URL is absolute and valid text on its own.
                check(r->scheme() != nullptr);
                Ref<URL> reparsed = URL::URLWithString(r->absoluteText());
                check(reparsed && reparsed->absoluteText() == r->absoluteText());
            }
        }
    }

    // Encoding then decoding gives the bytes back; encoded text is URL-safe.
    std::string enc = percentEncodeUnreserved(input);
    auto dec = percentDecodeBytes(enc);
    check(dec && *dec == input);
    std::string esc = addPercentEscapes(input);
    check(percentDecodeBytes(esc) == std::optional<std::string>(std::string(input)));
    (void)removePercentEncoding(input);

    // Masking for log lines: every pair keeps its place, a secret-named
    // pair shows only the mask, every other piece is left as it was.
    std::string masked = maskSecretsInParameters(input);
    size_t from = 0, at = 0;
    for (;;) {
        size_t end = input.find('&', from), maskedEnd = masked.find('&', at);
        std::string_view piece = input.substr(from, end == std::string_view::npos ? end : end - from);
        std::string_view shown = std::string_view(masked).substr(at, maskedEnd == std::string::npos ? maskedEnd : maskedEnd - at);
        size_t eq = piece.find('=');
        if (eq != std::string_view::npos && isSecretName(piece.substr(0, eq)))
            check(shown.substr(0, eq + 1) == piece.substr(0, eq + 1) && shown.substr(eq + 1) == kSecretMask);
        else
            check(shown == piece);
        check((end == std::string_view::npos) == (maskedEnd == std::string::npos));
        if (end == std::string_view::npos) break;
        from = end + 1;
        at = maskedEnd + 1;
    }
    (void)maskSecretsInURL(input);
    (void)maskSecretsInHeader(first, second);

    // The formatter never reads arguments the format does not match.
    std::string f = format(first, 1, "s", 2.5, str("o"), -1LL, static_cast<long long>(INT64_MIN),
                           Ref<String>(), 'c', static_cast<unsigned short>(7), nullptr, UINT64_MAX);
    (void)f;
    return 0;
}
