#include "evernote/types/Coder.h"

#include "platform/foundation/Null.h"
#include "platform/foundation/Number.h"

namespace evernote {

KeyedArchive::KeyedArchive() : values_(ns::MutableDictionary::make()) {}

KeyedArchive::KeyedArchive(ns::Ref<ns::Dictionary> contents)
    : values_(contents ? contents->mutableCopy() : ns::MutableDictionary::make()) {}

ns::Ref<ns::Dictionary> KeyedArchive::contents() const { return values_->copy(); }

void KeyedArchive::encodeBool(bool value, std::string_view key) {
    values_->setObject(ns::Number::numberWithBool(value), key);
}
void KeyedArchive::encodeInt(int value, std::string_view key) {
    values_->setObject(ns::Number::numberWithInt(value), key);
}
void KeyedArchive::encodeInt32(int32_t value, std::string_view key) {
    values_->setObject(ns::Number::numberWithInt(value), key);
}
void KeyedArchive::encodeInt64(int64_t value, std::string_view key) {
    values_->setObject(ns::Number::numberWithLongLong(value), key);
}
void KeyedArchive::encodeDouble(double value, std::string_view key) {
    values_->setObject(ns::Number::numberWithDouble(value), key);
}
void KeyedArchive::encodeObject(const ns::Ref<ns::Object>& value, std::string_view key) {
    values_->setObject(value ? value : ns::Ref<ns::Object>(ns::Null::null()), key);
}

bool KeyedArchive::containsValueForKey(std::string_view key) const {
    return values_->objectForKey(key) != nullptr;
}
bool KeyedArchive::decodeBoolForKey(std::string_view key) const {
    auto* n = values_->numberForKey(key);
    return n && n->boolValue();
}
int KeyedArchive::decodeIntForKey(std::string_view key) const {
    auto* n = values_->numberForKey(key);
    return n ? n->intValue() : 0;
}
int32_t KeyedArchive::decodeInt32ForKey(std::string_view key) const {
    auto* n = values_->numberForKey(key);
    return n ? static_cast<int32_t>(n->longLongValue()) : 0;
}
int64_t KeyedArchive::decodeInt64ForKey(std::string_view key) const {
    auto* n = values_->numberForKey(key);
    return n ? static_cast<int64_t>(n->longLongValue()) : 0;
}
double KeyedArchive::decodeDoubleForKey(std::string_view key) const {
    auto* n = values_->numberForKey(key);
    return n ? n->doubleValue() : 0.0;
}
ns::Ref<ns::Object> KeyedArchive::decodeObjectForKey(std::string_view key) const {
    ns::Object* o = values_->objectForKey(key);
    if (!o || ns::isNull(o)) return nullptr;
    return ns::Ref<ns::Object>(o);
}

}  // namespace evernote
