// Arbitrary bytes as Base64 text and as a keychain file. Decoding must
// either refuse the input or round-trip; a keychain file that does not
// decode must be moved aside, never crash the reader.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/FileIO.h"
#include "platform/security/Base64.h"
#include "platform/security/Keychain.h"

using namespace sec;

static void check(bool ok) {
    if (!ok) std::abort();
}

static std::string folder() {
    static std::string path = [] {
        char tmpl[] = "/tmp/keychain-fuzz-XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        return std::string(tmpl);
    }();
    return path;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);

    if (auto decoded = base64Decode(input)) {
        std::string again = base64Encode(*decoded);
        auto twice = base64Decode(again);
        check(twice && *twice == *decoded);
    }

    static bool quiet = (setKeychainLogHandler([](const std::string&) {}), true);
    (void)quiet;
    std::string path = folder() + "/keychain.db";
    if (!ns::writeFileAtomically(path, input, nullptr, 0600)) return 0;
    Keychain kc(path);
    std::vector<KeychainItemAttributes> items;
    int status = kc.listGenericPasswords(std::nullopt, &items);
    check(status == kStatusSuccess || status == kStatusItemNotFound);
    if (status == kStatusSuccess) {
        for (const auto& item : items) check(kc.findGenericPassword(item.service, item.account, nullptr) == kStatusSuccess);
    }
    for (const auto& aside : kc.corruptFilesMovedAside()) ::unlink(aside.c_str());
    ::unlink(path.c_str());
    return 0;
}
