// An independent description of a few Evernote records, written from their
// field tables, for the wire check only: Thrift's own compiler turns it into
// C++ in the test build, and the interop test makes that code and ours read
// each other's bytes. Every field is optional so that unset fields stay off
// the wire, as in our records.
namespace cpp edamcheck

exception EDAMUserException {
  1: optional i32 errorCode,
  2: optional string parameter
}

exception EDAMSystemException {
  1: optional i32 errorCode,
  2: optional string message
}

exception EDAMNotFoundException {
  1: optional string identifier,
  2: optional string key
}

struct UserAttributes {
  1: optional string defaultLocationName,
  2: optional double defaultLatitude,
  3: optional double defaultLongitude,
  4: optional bool preactivation,
  5: optional list<string> viewedPromotions,
  6: optional string incomingEmailAddress,
  7: optional list<string> recentMailedAddresses,
  9: optional string comments,
  11: optional i64 dateAgreedToTermsOfService,
  12: optional i32 maxReferrals,
  13: optional i32 referralCount,
  14: optional string refererCode,
  15: optional i64 sentEmailDate,
  16: optional i32 sentEmailCount,
  17: optional i32 dailyEmailLimit,
  18: optional i64 emailOptOutDate,
  19: optional i64 partnerEmailOptInDate,
  20: optional string preferredLanguage,
  21: optional string preferredCountry,
  22: optional bool clipFullPage,
  23: optional string twitterUserName,
  24: optional string twitterId,
  25: optional string groupName,
  26: optional string recognitionLanguage,
  27: optional i64 customerProfileId,
  28: optional string referralProof
}

struct Accounting {
  1: optional i64 uploadLimit,
  2: optional i64 uploadLimitEnd,
  3: optional i64 uploadLimitNextMonth,
  4: optional i32 premiumServiceStatus,
  5: optional string premiumOrderNumber,
  6: optional string premiumCommerceService,
  7: optional i64 premiumServiceStart,
  8: optional string premiumServiceSKU,
  9: optional i64 lastSuccessfulCharge,
  10: optional i64 lastFailedCharge,
  11: optional string lastFailedChargeReason,
  12: optional i64 nextPaymentDue,
  13: optional i64 premiumLockUntil,
  14: optional i64 updated,
  16: optional string premiumSubscriptionNumber,
  17: optional i64 lastRequestedCharge
}

struct User {
  1: optional i32 id,
  2: optional string username,
  3: optional string email,
  4: optional string name,
  6: optional string timezone,
  7: optional i32 privilege,
  9: optional i64 created,
  10: optional i64 updated,
  11: optional i64 deleted,
  13: optional bool active,
  14: optional string shardId,
  15: optional UserAttributes attributes,
  16: optional Accounting accounting
}

struct PublicUserInfo {
  1: optional i32 userId,
  2: optional string shardId,
  3: optional i32 privilege,
  4: optional string username
}

struct AuthenticationResult {
  1: optional i64 currentTime,
  2: optional string authenticationToken,
  3: optional i64 expiration,
  4: optional User user,
  5: optional PublicUserInfo publicUserInfo
}

service UserStore {
  bool checkVersion(1: string clientName, 2: i16 edamVersionMajor, 3: i16 edamVersionMinor),
  AuthenticationResult authenticate(1: string username, 2: string password, 3: string consumerKey,
                                    4: string consumerSecret)
      throws (1: EDAMUserException userException, 2: EDAMSystemException systemException),
  AuthenticationResult refreshAuthentication(1: string authenticationToken)
      throws (1: EDAMUserException userException, 2: EDAMSystemException systemException),
  User getUser(1: string authenticationToken)
      throws (1: EDAMUserException userException, 2: EDAMSystemException systemException),
  PublicUserInfo getPublicUserInfo(1: string username)
      throws (1: EDAMNotFoundException notFoundException, 2: EDAMSystemException systemException,
              3: EDAMUserException userException)
}

struct Data {
  1: optional binary bodyHash,
  2: optional i32 size,
  3: optional binary body
}

struct ResourceAttributes {
  1: optional string sourceURL,
  2: optional i64 timestamp,
  3: optional double latitude,
  4: optional double longitude,
  5: optional double altitude,
  6: optional string cameraMake,
  7: optional string cameraModel,
  8: optional bool clientWillIndex,
  9: optional string recoType,
  10: optional string fileName,
  11: optional bool attachment
}

struct Resource {
  1: optional string guid,
  2: optional string noteGuid,
  3: optional Data data,
  4: optional string mime,
  5: optional i16 width,
  6: optional i16 height,
  7: optional i16 duration,
  8: optional bool active,
  9: optional Data recognition,
  11: optional ResourceAttributes attributes,
  12: optional i32 updateSequenceNum,
  13: optional Data alternateData
}

struct NoteAttributes {
  1: optional i64 subjectDate,
  10: optional double latitude,
  11: optional double longitude,
  12: optional double altitude,
  13: optional string author,
  14: optional string source,
  15: optional string sourceURL,
  16: optional string sourceApplication
}

struct Note {
  1: optional string guid,
  2: optional string title,
  3: optional string content,
  4: optional binary contentHash,
  5: optional i32 contentLength,
  6: optional i64 created,
  7: optional i64 updated,
  8: optional i64 deleted,
  9: optional bool active,
  10: optional i32 updateSequenceNum,
  11: optional string notebookGuid,
  12: optional list<string> tagGuids,
  13: optional list<Resource> resources,
  14: optional NoteAttributes attributes,
  15: optional list<string> tagNames
}

struct Publishing {
  1: optional string uri,
  2: optional i32 order,
  3: optional bool ascending,
  4: optional string publicDescription
}

struct Notebook {
  1: optional string guid,
  2: optional string name,
  5: optional i32 updateSequenceNum,
  6: optional bool defaultNotebook,
  7: optional i64 serviceCreated,
  8: optional i64 serviceUpdated,
  10: optional Publishing publishing,
  11: optional bool published,
  12: optional string stack
}

// The note-store methods that the sharer uses, and a void one.
service NoteStore {
  list<Notebook> listNotebooks(1: string authenticationToken)
      throws (1: EDAMUserException userException, 2: EDAMSystemException systemException),
  Note createNote(1: string authenticationToken, 2: Note note)
      throws (1: EDAMUserException userException, 2: EDAMSystemException systemException,
              3: EDAMNotFoundException notFoundException),
  void untagAll(1: string authenticationToken, 2: string guid)
      throws (1: EDAMUserException userException, 2: EDAMSystemException systemException,
              3: EDAMNotFoundException notFoundException)
}
