#include "platform/foundation/Error.h"

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"

namespace ns {

Error::Error(std::string domain, long code, Ref<Dictionary> userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(userInfo ? std::move(userInfo) : Dictionary::make()) {}
Error::~Error() = default;

Ref<Error> Error::make(std::string_view domain, long code, Ref<Dictionary> userInfo) {
    return ns::make<Error>(std::string(domain), code, userInfo ? userInfo->copy() : nullptr);
}

Ref<Error> Error::withDescription(std::string_view domain, long code, std::string_view description) {
    return make(domain, code, Dictionary::make({{kLocalizedDescriptionKey, String::make(description)}}));
}

std::string Error::localizedDescription() const {
    if (auto* s = userInfo_->stringForKey(kLocalizedDescriptionKey)) return std::string(s->utf8());
    return "The operation couldn\u2019t be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::string Error::localizedFailureReason() const {
    if (auto* s = userInfo_->stringForKey(kLocalizedFailureReasonErrorKey)) return std::string(s->utf8());
    return {};
}

std::string Error::description() const {
    std::string out = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
                      localizedDescription() + "\"";
    if (userInfo_->count()) out += " UserInfo=" + userInfo_->description();
    return out;
}

bool Error::isEqual(const Object& other) const {
    if (this == &other) return true;
    auto* e = dynamic_cast<const Error*>(&other);
    return e && e->domain_ == domain_ && e->code_ == code_ && userInfo_->isEqual(*e->userInfo_);
}

}  // namespace ns
