// The sharer classes this library knows by name. A sharer class made
// elsewhere registers itself with SHRSharer::registerSharerClass.
#include "sharing/core/SHRSharer.h"
#include "sharing/sharers/simple/SimpleSharers.h"

namespace sharing {

namespace {
template <class T>
void add(const char* name) {
    SHRSharer::registerSharerClass(name, [] { return ns::Ref<SHRSharer>(ns::make<T>()); });
}
}  // namespace

void registerBuiltinSharers() {
    add<SHRCopy>("SHRCopy");
    add<SHRMail>("SHRMail");
    add<SHRLogout>("SHRLogout");
    add<SHRSafari>("SHRSafari");
    add<SHRPrint>("SHRPrint");
    add<SHRPhotoAlbum>("SHRPhotoAlbum");
    add<SHRTextMessage>("SHRTextMessage");
}

}  // namespace sharing
