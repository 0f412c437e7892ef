// Feeds arbitrary bytes to the property-list readers. Whatever they accept
// must write out in both formats, read back, and write out identically again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/PropertyList.h"

using namespace ns;

namespace {
void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "plist_fuzz: %s\n", what);
        std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view doc(reinterpret_cast<const char*>(data), size);
    PropertyListReadOptions options;
    options.maxObjects = 200000;  // keep single inputs fast
    // Vary the mutability so every construction path is reached.
    options.mutability = static_cast<PropertyListMutability>(size % 3);
    Ref<Error> error;
    Ref<Object> root = PropertyList::readFromData(doc, &error, options);
    if (!root) {
        check(error && error->domain() == kPropertyListErrorDomain, "failure without an error");
        return 0;
    }
    for (auto format : {PropertyListFormat::XML, PropertyListFormat::Binary}) {
        Ref<Error> writeError;
        auto first = PropertyList::dataFromPropertyList(*root, format, &writeError);
        if (!first) {
            // Only dates beyond the years XML can spell may be refused.
            check(format == PropertyListFormat::XML, "binary writer refused what a reader made");
            continue;
        }
        Ref<Object> again = PropertyList::readFromData(*first, nullptr, options);
        check(static_cast<bool>(again), "writer output does not read back");
        auto second = PropertyList::dataFromPropertyList(*again, format);
        check(second && *second == *first, "writing is not stable across a read");
    }
    return 0;
}
