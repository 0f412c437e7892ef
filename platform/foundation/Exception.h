// The one exception type for failures raised by name ("misuse" failures):
// a name, a reason and optional user information. Library operations that
// can fail on bad input return error objects instead (see Error.h).
#pragma once

#include <stdexcept>
#include <string>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"

namespace ns {


class Exception : public std::exception {
public:
    Exception(std::string name, std::string reason, Ref<Dictionary> userInfo = nullptr);
    ~Exception() override;
    Exception(const Exception&);
    Exception& operator=(const Exception&);

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const Ref<Dictionary>& userInfo() const { return userInfo_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string name_;
    std::string reason_;
    Ref<Dictionary> userInfo_;
    std::string what_;
};

// Names used by the object model itself.
inline constexpr const char* kInvalidArgumentException = "InvalidArgumentException";
inline constexpr const char* kRangeException = "RangeException";
inline constexpr const char* kInternalInconsistencyException = "InternalInconsistencyException";

}  // namespace ns
