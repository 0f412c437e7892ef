#include "evernote/types/EDAMConstants.h"

#include <algorithm>
#include <vector>

namespace evernote {

StringSet::StringSet(std::initializer_list<const char*> members) {
    for (const char* m : members) members_.insert(m);
}

std::string StringSet::description() const {
    std::vector<std::string> sorted(members_.begin(), members_.end());
    std::sort(sorted.begin(), sorted.end());
    std::string s = "{(";
    for (size_t i = 0; i < sorted.size(); ++i) s += (i ? ", " : "") + sorted[i];
    return s + ")}";
}

namespace {
struct LimitsSets {
    StringSet* mimeTypes;
    StringSet* prohibitedURIs;
};

const LimitsSets& limitsSets() {
    // Made once, never released: the sets live as long as the process.
    static const LimitsSets sets = [] {
        using C = EDAMLimitsConstants;
        LimitsSets s{
            new StringSet({C::EDAM_MIME_TYPE_GIF(), C::EDAM_MIME_TYPE_JPEG(), C::EDAM_MIME_TYPE_PNG(),
                           C::EDAM_MIME_TYPE_WAV(), C::EDAM_MIME_TYPE_MP3(), C::EDAM_MIME_TYPE_AMR(),
                           C::EDAM_MIME_TYPE_INK(), C::EDAM_MIME_TYPE_PDF()}),
            new StringSet({".."}),
        };
        s.mimeTypes->makeImmortal();
        s.prohibitedURIs->makeImmortal();
        return s;
    }();
    return sets;
}
}  // namespace

void EDAMLimitsConstants::initialize() { (void)limitsSets(); }
StringSet* EDAMLimitsConstants::EDAM_MIME_TYPES() { return limitsSets().mimeTypes; }
StringSet* EDAMLimitsConstants::EDAM_PUBLISHING_URI_PROHIBITED() { return limitsSets().prohibitedURIs; }

}  // namespace evernote
