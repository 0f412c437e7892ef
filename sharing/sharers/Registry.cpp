// The sharer classes this library knows by name. Every service is listed
// here, so that a program finds a sharer by class name (the offline queue,
// logging out of all services) even when nothing else in it names the class;
// a static registrar alone would be dropped by the linker in that case.
// A sharer class made elsewhere registers itself with
// SHRSharer::registerSharerClass.
#include "sharing/core/SHRSharer.h"
#include "sharing/sharers/evernote/SHREvernote.h"
#include "sharing/sharers/facebook/SHRFacebook.h"
#include "sharing/sharers/foursquare/SHRFoursquareV2.h"
#include "sharing/sharers/googlereader/SHRGoogleReader.h"
#include "sharing/sharers/instapaper/SHRInstapaper.h"
#include "sharing/sharers/linkedin/SHRLinkedIn.h"
#include "sharing/sharers/pinboard/SHRPinboard.h"
#include "sharing/sharers/readitlater/SHRReadItLater.h"
#include "sharing/sharers/simple/SimpleSharers.h"
#include "sharing/sharers/tumblr/SHRTumblr.h"
#include "sharing/sharers/twitter/SHRTwitter.h"
#include "sharing/sharers/vkontakte/SHRVkontakte.h"

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
    registerTwitterSharers();
    SHRFacebook::registerClass();
    registerEvernoteSharer();
    registerFoursquareSharer();
    registerGoogleReaderSharer();
    registerInstapaperSharer();
    registerLinkedInSharer();
    registerPinboardSharer();
    registerReadItLaterSharer();
    registerTumblrSharer();
    registerVkontakteSharer();
}

}  // namespace sharing
