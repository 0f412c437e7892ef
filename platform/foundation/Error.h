// Error objects that library operations return: a domain, an integer code
// and user information. Errors are values, never thrown.
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"

namespace ns {

class String;

// User-information keys understood by every error.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";

class Error : public Object {
public:
    Error(std::string domain, long code, Ref<Dictionary> userInfo);
    ~Error() override;

    const char* className() const override { return "Error"; }
    // "Error Domain=D Code=N \"description\" UserInfo={...}"
    std::string description() const override;
    bool isEqual(const Object& other) const override;
    size_t hash() const override { return std::hash<std::string>()(domain_) ^ static_cast<size_t>(code_); }

    static Ref<Error> make(std::string_view domain, long code, Ref<Dictionary> userInfo = nullptr);
    // An error whose user information holds just a localized description.
    static Ref<Error> withDescription(std::string_view domain, long code, std::string_view description);

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const Ref<Dictionary>& userInfo() const { return userInfo_; }  // never nil
    // The description under kLocalizedDescriptionKey, or a generic text
    // naming the domain and code when there is none.
    std::string localizedDescription() const;
    std::string localizedFailureReason() const;  // empty when absent

private:
    std::string domain_;
    long code_;
    Ref<Dictionary> userInfo_;
};

}  // namespace ns
