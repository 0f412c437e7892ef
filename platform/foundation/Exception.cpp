#include "platform/foundation/Exception.h"

#include "platform/foundation/Dictionary.h"

namespace ns {

Exception::Exception(std::string name, std::string reason, Ref<Dictionary> userInfo)
    : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)),
      what_(name_ + ": " + reason_) {}
Exception::~Exception() = default;
Exception::Exception(const Exception&) = default;
Exception& Exception::operator=(const Exception&) = default;

}  // namespace ns
