// The Evernote API's constants: the protocol version the clients speak, note
// source names, and the service's limits, MIME types and validation patterns.
// Each is a class operation named as the constant. Nothing in the system
// enforces the limits or patterns; they are offered to callers as they are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/foundation/Object.h"

namespace evernote {

// An unordered collection of strings made once and shared for the life of the
// process: every call of a set constant returns the same object.
class StringSet : public ns::Object {
public:
    explicit StringSet(std::initializer_list<const char*> members);
    const char* className() const override { return "StringSet"; }
    std::string description() const override;
    size_t count() const { return members_.size(); }
    bool containsObject(std::string_view s) const { return members_.count(std::string(s)) != 0; }
    const std::unordered_set<std::string>& members() const { return members_; }

private:
    std::unordered_set<std::string> members_;
};

class EDAMUserStoreConstants {
public:
    static void initialize() {}
    static int16_t EDAM_VERSION_MAJOR() { return 1; }
    static int16_t EDAM_VERSION_MINOR() { return 16; }
};

class EDAMTypesConstants {
public:
    static void initialize() {}
    static const char* EDAM_NOTE_SOURCE_WEB_CLIP() { return "web.clip"; }
    static const char* EDAM_NOTE_SOURCE_MAIL_CLIP() { return "mail.clip"; }
    static const char* EDAM_NOTE_SOURCE_MAIL_SMTP_GATEWAY() { return "mail.smtp"; }
};

class ErrorsConstants {
public:
    static void initialize() {}
};

class EDAMNoteStoreConstants {
public:
    static void initialize() {}
};

class EDAMLimitsConstants {
public:
    // Builds the two sets; runs once, on first use of either (thread-safe).
    static void initialize();

    static int32_t EDAM_ATTRIBUTE_LEN_MIN() { return 1; }
    static int32_t EDAM_ATTRIBUTE_LEN_MAX() { return 4096; }
    static int32_t EDAM_ATTRIBUTE_LIST_MAX() { return 100; }
    static int32_t EDAM_GUID_LEN_MIN() { return 36; }
    static int32_t EDAM_GUID_LEN_MAX() { return 36; }
    static int32_t EDAM_EMAIL_LEN_MIN() { return 6; }
    static int32_t EDAM_EMAIL_LEN_MAX() { return 255; }
    static int32_t EDAM_TIMEZONE_LEN_MIN() { return 1; }
    static int32_t EDAM_TIMEZONE_LEN_MAX() { return 32; }
    static int32_t EDAM_MIME_LEN_MIN() { return 3; }
    static int32_t EDAM_MIME_LEN_MAX() { return 255; }
    static int32_t EDAM_SEARCH_QUERY_LEN_MIN() { return 0; }
    static int32_t EDAM_SEARCH_QUERY_LEN_MAX() { return 1024; }
    static int32_t EDAM_HASH_LEN() { return 16; }
    static int32_t EDAM_USER_USERNAME_LEN_MIN() { return 1; }
    static int32_t EDAM_USER_USERNAME_LEN_MAX() { return 64; }
    static int32_t EDAM_USER_NAME_LEN_MIN() { return 1; }
    static int32_t EDAM_USER_NAME_LEN_MAX() { return 255; }
    static int32_t EDAM_TAG_NAME_LEN_MIN() { return 1; }
    static int32_t EDAM_TAG_NAME_LEN_MAX() { return 100; }
    static int32_t EDAM_NOTE_TITLE_LEN_MIN() { return 1; }
    static int32_t EDAM_NOTE_TITLE_LEN_MAX() { return 255; }
    static int32_t EDAM_NOTE_CONTENT_LEN_MIN() { return 0; }
    static int32_t EDAM_NOTE_CONTENT_LEN_MAX() { return 5242880; }
    static int32_t EDAM_NOTEBOOK_NAME_LEN_MIN() { return 1; }
    static int32_t EDAM_NOTEBOOK_NAME_LEN_MAX() { return 100; }
    static int32_t EDAM_NOTEBOOK_STACK_LEN_MIN() { return 1; }
    static int32_t EDAM_NOTEBOOK_STACK_LEN_MAX() { return 100; }
    static int32_t EDAM_PUBLISHING_URI_LEN_MIN() { return 1; }
    static int32_t EDAM_PUBLISHING_URI_LEN_MAX() { return 255; }
    static int32_t EDAM_PUBLISHING_DESCRIPTION_LEN_MIN() { return 1; }
    static int32_t EDAM_PUBLISHING_DESCRIPTION_LEN_MAX() { return 200; }
    static int32_t EDAM_SAVED_SEARCH_NAME_LEN_MIN() { return 1; }
    static int32_t EDAM_SAVED_SEARCH_NAME_LEN_MAX() { return 100; }
    static int32_t EDAM_USER_PASSWORD_LEN_MIN() { return 6; }
    static int32_t EDAM_USER_PASSWORD_LEN_MAX() { return 64; }
    static int32_t EDAM_NOTE_TAGS_MAX() { return 100; }
    static int32_t EDAM_NOTE_RESOURCES_MAX() { return 1000; }
    static int32_t EDAM_USER_TAGS_MAX() { return 100000; }
    static int32_t EDAM_USER_SAVED_SEARCHES_MAX() { return 100; }
    static int32_t EDAM_USER_NOTES_MAX() { return 100000; }
    static int32_t EDAM_USER_NOTEBOOKS_MAX() { return 100; }
    static int32_t EDAM_USER_RECENT_MAILED_ADDRESSES_MAX() { return 10; }
    static int32_t EDAM_USER_MAIL_LIMIT_DAILY_FREE() { return 50; }
    static int32_t EDAM_USER_MAIL_LIMIT_DAILY_PREMIUM() { return 200; }
    static int32_t EDAM_NOTE_SIZE_MAX_FREE() { return 26214400; }
    static int32_t EDAM_NOTE_SIZE_MAX_PREMIUM() { return 52428800; }
    static int32_t EDAM_RESOURCE_SIZE_MAX_FREE() { return 26214400; }
    static int32_t EDAM_RESOURCE_SIZE_MAX_PREMIUM() { return 52428800; }
    static int32_t EDAM_USER_LINKED_NOTEBOOK_MAX() { return 100; }
    static int32_t EDAM_NOTEBOOK_SHARED_NOTEBOOK_MAX() { return 100; }

    static const char* EDAM_MIME_TYPE_GIF() { return "image/gif"; }
    static const char* EDAM_MIME_TYPE_JPEG() { return "image/jpeg"; }
    static const char* EDAM_MIME_TYPE_PNG() { return "image/png"; }
    static const char* EDAM_MIME_TYPE_WAV() { return "audio/wav"; }
    static const char* EDAM_MIME_TYPE_MP3() { return "audio/mpeg"; }
    static const char* EDAM_MIME_TYPE_AMR() { return "audio/amr"; }
    static const char* EDAM_MIME_TYPE_INK() { return "application/vnd.evernote.ink"; }
    static const char* EDAM_MIME_TYPE_PDF() { return "application/pdf"; }
    static const char* EDAM_MIME_TYPE_DEFAULT() { return "application/octet-stream"; }
    static const char* EDAM_COMMERCE_SERVICE_GOOGLE() { return "Google"; }
    static const char* EDAM_COMMERCE_SERVICE_PAYPAL() { return "Paypal"; }
    static const char* EDAM_COMMERCE_SERVICE_GIFT() { return "Gift"; }
    static const char* EDAM_COMMERCE_SERVICE_TRIALPAY() { return "TrialPay"; }

    static const char* EDAM_ATTRIBUTE_REGEX() {
        return R"re(^[^\p{Cc}\p{Zl}\p{Zp}]{1,4096}$)re";
    }
    static const char* EDAM_GUID_REGEX() {
        return R"re(^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$)re";
    }
    static const char* EDAM_EMAIL_LOCAL_REGEX() {
        return R"re(^[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+(\.[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+)*$)re";
    }
    static const char* EDAM_EMAIL_DOMAIN_REGEX() {
        return R"re(^[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*\.([A-Za-z]{2,})$)re";
    }
    static const char* EDAM_EMAIL_REGEX() {
        return R"re(^[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+(\.[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+)*@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*\.([A-Za-z]{2,})$)re";
    }
    static const char* EDAM_TIMEZONE_REGEX() {
        return R"re(^([A-Za-z_-]+(/[A-Za-z_-]+)*)|(GMT(-|\+)[0-9]{1,2}(:[0-9]{2})?)$)re";
    }
    static const char* EDAM_MIME_REGEX() {
        return R"re(^[A-Za-z]+/[A-Za-z0-9._+-]+$)re";
    }
    static const char* EDAM_SEARCH_QUERY_REGEX() {
        return R"re(^[^\p{Cc}\p{Zl}\p{Zp}]{0,1024}$)re";
    }
    static const char* EDAM_USER_USERNAME_REGEX() {
        return R"re(^[a-z0-9]([a-z0-9_-]{0,62}[a-z0-9])?$)re";
    }
    static const char* EDAM_USER_NAME_REGEX() {
        return R"re(^[^\p{Cc}\p{Zl}\p{Zp}]{1,255}$)re";
    }
    static const char* EDAM_TAG_NAME_REGEX() {
        return R"re(^[^,\p{Cc}\p{Z}]([^,\p{Cc}\p{Zl}\p{Zp}]{0,98}[^,\p{Cc}\p{Z}])?$)re";
    }
    static const char* EDAM_NOTE_TITLE_REGEX() {
        return R"re(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,253}[^\p{Cc}\p{Z}])?$)re";
    }
    static const char* EDAM_NOTEBOOK_NAME_REGEX() {
        return R"re(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,98}[^\p{Cc}\p{Z}])?$)re";
    }
    static const char* EDAM_NOTEBOOK_STACK_REGEX() {
        return R"re(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,98}[^\p{Cc}\p{Z}])?$)re";
    }
    static const char* EDAM_PUBLISHING_URI_REGEX() {
        return R"re(^[a-zA-Z0-9.~_+-]{1,255}$)re";
    }
    static const char* EDAM_PUBLISHING_DESCRIPTION_REGEX() {
        return R"re(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,198}[^\p{Cc}\p{Z}])?$)re";
    }
    static const char* EDAM_SAVED_SEARCH_NAME_REGEX() {
        return R"re(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,98}[^\p{Cc}\p{Z}])?$)re";
    }
    static const char* EDAM_USER_PASSWORD_REGEX() {
        return R"re(^[A-Za-z0-9!#$%&'()*+,./:;<=>?@^_`{|}~\[\]\\-]{6,64}$)re";
    }

    // The eight MIME types above but EDAM_MIME_TYPE_DEFAULT.
    static StringSet* EDAM_MIME_TYPES();
    // The one string "..".
    static StringSet* EDAM_PUBLISHING_URI_PROHIBITED();
};

}  // namespace evernote
