// Fixed values the app is built with: the analytics key, the maker's web
// service, addresses and mail links, the store identifier, and the folders
// and file names of the bundle and the Documents folder.
#pragma once

#include "platform/foundation/ServiceEndpoints.h"

namespace app {

// Analytics API key, compiled in.
inline constexpr const char* kAnalyticsAPIKey = "QX7TM2RLD4VKW8PNB3HJ";

// The maker's sites. Host names are ours to choose; the paths are fixed.
inline constexpr const char* kMakerWebSite = "http://www.tarnwick.example/";
inline constexpr const char* kMakerTwitterPage = "https://twitter.example/Tarnwick";
inline constexpr const char* kMakerFacebookPage = "http://www.facebook.example/Tarnwick";
// The maker's site written without a scheme (as the marketing mails show it).
inline constexpr const char* kMakerWebSiteAddress = "www.tarnwick.example";
// The app's page on the store's web site.
inline constexpr const char* kAppStorePage = "https://itunes.tarnwick-store.example/app/id684213097";

// The maker's web service for the sign-up and referral forms: its base URL
// (the host is ours to choose; tests and the simulator point it elsewhere
// through ns::ServiceEndpoints) and the fixed path the forms are posted to.
inline constexpr ns::ServiceEndpoint kFormService{"tarnwick-forms", "https://services.tarnwick.example"};
inline constexpr const char* kFormServicePath = "/tarnwick/WS/Tarnwick.php";

// The maker's mail links as card pages write them.
inline constexpr const char* kContactMailLink = "mailto:cards@korvel.example";
inline constexpr const char* kContactMailAddress = "cards@korvel.example";
inline constexpr const char* kFeedbackMailLink = "mailto:feedback@korvel.example";
inline constexpr const char* kSuggestionMailLink = "mailto:suggestions@korvel.example";

// The store: the app's identifier and the store's host.
inline constexpr const char* kAppStoreIdentifier = "684213097";
inline constexpr const char* kAppStoreHost = "itunes.tarnwick-store.example";

// Bundle property lists.
inline constexpr const char* kDeckFile = "Jobframework.plist";
inline constexpr const char* kAllCardsFile = "allCards-Iphone.plist";
inline constexpr const char* kInterviewFile = "InterviewIphone.plist";
inline constexpr const char* kShareFile = "shareIphone.plist";
inline constexpr const char* kInfoFile = "infoIphone.plist";
inline constexpr const char* kMoreFile = "more.plist";
inline constexpr const char* kFollowUsFile = "FollowUS.plist";
// The app's localisation table: a dictionary from English text to the text
// shown; a text without an entry is shown as it is.
inline constexpr const char* kLocalizationFile = "Localizable.plist";

// Documents files.
inline constexpr const char* kFavoritesFile = "Favorites-VeltraIpad.plist";
inline constexpr const char* kGroupsFile = "Grupos-VeltraIpad.plist";

// Folder of the card pages inside the bundle.
inline constexpr const char* kCardPageFolder = "html_iphone";
inline constexpr const char* kPracticeTemplate = "MKTG_01_blank.html";

// User-defaults key of the sign-up flag.
inline constexpr const char* kRegistroKey = "registro";

}  // namespace app
