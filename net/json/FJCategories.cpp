#include "net/json/FJCategories.h"

namespace json {

namespace {

ns::Ref<ns::Object> decodeString(const ns::String& string, uint64_t options, bool mutableCollections,
                                 ns::Ref<ns::Error>* error) {
    std::string_view text = string.utf8();
    if (!ns::isValidUTF8(text.data(), text.size())) {
        if (error) *error = FJMakeError("An error occurred converting the contents of a NSString to UTF8.");
        return nullptr;
    }
    JSONDecoder decoder(options);
    ns::Ref<ns::Object> result =
        mutableCollections ? decoder.mutableObjectWithUTF8StringLengthError(text.data(), text.size(), error)
                           : decoder.objectWithUTF8StringLengthError(text.data(), text.size(), error);
    decoder.releaseParseState();
    return result;
}

ns::Ref<ns::Object> decodeData(const ns::Data& data, uint64_t options, bool mutableCollections,
                               ns::Ref<ns::Error>* error) {
    JSONDecoder decoder(options);
    ns::Ref<ns::Object> result = mutableCollections ? decoder.mutableObjectWithDataError(&data, error)
                                                    : decoder.objectWithDataError(&data, error);
    decoder.releaseParseState();
    return result;
}

}  // namespace

ns::Ref<ns::Object> objectFromJSONString(const ns::String& s) { return decodeString(s, 0, false, nullptr); }
ns::Ref<ns::Object> objectFromJSONStringWithParseOptions(const ns::String& s, uint64_t o) {
    return decodeString(s, o, false, nullptr);
}
ns::Ref<ns::Object> objectFromJSONStringWithParseOptionsError(const ns::String& s, uint64_t o,
                                                              ns::Ref<ns::Error>* e) {
    return decodeString(s, o, false, e);
}
ns::Ref<ns::Object> mutableObjectFromJSONString(const ns::String& s) { return decodeString(s, 0, true, nullptr); }
ns::Ref<ns::Object> mutableObjectFromJSONStringWithParseOptions(const ns::String& s, uint64_t o) {
    return decodeString(s, o, true, nullptr);
}
ns::Ref<ns::Object> mutableObjectFromJSONStringWithParseOptionsError(const ns::String& s, uint64_t o,
                                                                     ns::Ref<ns::Error>* e) {
    return decodeString(s, o, true, e);
}

ns::Ref<ns::Object> objectFromJSONData(const ns::Data& d) { return decodeData(d, 0, false, nullptr); }
ns::Ref<ns::Object> objectFromJSONDataWithParseOptions(const ns::Data& d, uint64_t o) {
    return decodeData(d, o, false, nullptr);
}
ns::Ref<ns::Object> objectFromJSONDataWithParseOptionsError(const ns::Data& d, uint64_t o, ns::Ref<ns::Error>* e) {
    return decodeData(d, o, false, e);
}
ns::Ref<ns::Object> mutableObjectFromJSONData(const ns::Data& d) { return decodeData(d, 0, true, nullptr); }
ns::Ref<ns::Object> mutableObjectFromJSONDataWithParseOptions(const ns::Data& d, uint64_t o) {
    return decodeData(d, o, true, nullptr);
}
ns::Ref<ns::Object> mutableObjectFromJSONDataWithParseOptionsError(const ns::Data& d, uint64_t o,
                                                                   ns::Ref<ns::Error>* e) {
    return decodeData(d, o, true, e);
}

}  // namespace json

namespace json {

namespace {

const FJFormatterBlock kNoBlock;

ns::Ref<ns::Data> asData(ns::Ref<ns::Object> o) { return ns::cast<ns::Data>(o); }
ns::Ref<ns::String> asString(ns::Ref<ns::Object> o) { return ns::cast<ns::String>(o); }

ns::Ref<ns::Object> write(const ns::Object& object, uint64_t options, uint64_t encodeOption,
                          const FJFormatterBlock& block, FJSerializerDelegate* delegate, const char* selector,
                          ns::Ref<ns::Error>* error) {
    return FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
        const_cast<ns::Object*>(&object), options, encodeOption, block, delegate, selector, error);
}

constexpr uint64_t kStringData = FJEncodeAsData | FJEncodeRequireString;           // 17
constexpr uint64_t kStringString = FJEncodeAsString | FJEncodeRequireString;       // 18
constexpr uint64_t kCollectionData = FJEncodeAsData | FJEncodeRequireCollection;   // 9
constexpr uint64_t kCollectionString = FJEncodeAsString | FJEncodeRequireCollection;  // 10

}  // namespace

ns::Ref<ns::Data> JSONData(const ns::String& s) {
    return asData(write(s, 0, kStringData, kNoBlock, nullptr, nullptr, nullptr));
}
ns::Ref<ns::Data> JSONDataWithOptionsIncludeQuotesError(const ns::String& s, uint64_t o, bool includeQuotes,
                                                        ns::Ref<ns::Error>* e) {
    uint64_t encode = kStringData | (includeQuotes ? uint64_t(0) : uint64_t(FJEncodeBareString));
    return asData(write(s, o, encode, kNoBlock, nullptr, nullptr, e));
}
ns::Ref<ns::String> JSONString(const ns::String& s) {
    return asString(write(s, 0, kStringString, kNoBlock, nullptr, nullptr, nullptr));
}
ns::Ref<ns::String> JSONStringWithOptionsIncludeQuotesError(const ns::String& s, uint64_t o, bool includeQuotes,
                                                            ns::Ref<ns::Error>* e) {
    uint64_t encode = kStringString | (includeQuotes ? uint64_t(0) : uint64_t(FJEncodeBareString));
    return asString(write(s, o, encode, kNoBlock, nullptr, nullptr, e));
}

#define FJ_COLLECTION_WRITERS(Type)                                                                              \
    ns::Ref<ns::Data> JSONData(const Type& c) {                                                                  \
        return asData(write(c, 0, kCollectionData, kNoBlock, nullptr, nullptr, nullptr));                       \
    }                                                                                                            \
    ns::Ref<ns::Data> JSONDataWithOptionsError(const Type& c, uint64_t o, ns::Ref<ns::Error>* e) {               \
        return asData(write(c, o, kCollectionData, kNoBlock, nullptr, nullptr, e));                             \
    }                                                                                                            \
    ns::Ref<ns::Data> JSONDataWithOptionsSerializeUnsupportedClassesUsingDelegateSelectorError(                  \
        const Type& c, uint64_t o, FJSerializerDelegate* d, const char* sel, ns::Ref<ns::Error>* e) {           \
        return asData(write(c, o, kCollectionData, kNoBlock, d, sel, e));                                       \
    }                                                                                                            \
    ns::Ref<ns::Data> JSONDataWithOptionsSerializeUnsupportedClassesUsingBlockError(                             \
        const Type& c, uint64_t o, const FJFormatterBlock& b, ns::Ref<ns::Error>* e) {                          \
        return asData(write(c, o, kCollectionData, b, nullptr, nullptr, e));                                    \
    }                                                                                                            \
    ns::Ref<ns::String> JSONString(const Type& c) {                                                              \
        return asString(write(c, 0, kCollectionString, kNoBlock, nullptr, nullptr, nullptr));                   \
    }                                                                                                            \
    ns::Ref<ns::String> JSONStringWithOptionsError(const Type& c, uint64_t o, ns::Ref<ns::Error>* e) {           \
        return asString(write(c, o, kCollectionString, kNoBlock, nullptr, nullptr, e));                         \
    }                                                                                                            \
    ns::Ref<ns::String> JSONStringWithOptionsSerializeUnsupportedClassesUsingDelegateSelectorError(              \
        const Type& c, uint64_t o, FJSerializerDelegate* d, const char* sel, ns::Ref<ns::Error>* e) {           \
        return asString(write(c, o, kCollectionString, kNoBlock, d, sel, e));                                   \
    }                                                                                                            \
    ns::Ref<ns::String> JSONStringWithOptionsSerializeUnsupportedClassesUsingBlockError(                         \
        const Type& c, uint64_t o, const FJFormatterBlock& b, ns::Ref<ns::Error>* e) {                          \
        return asString(write(c, o, kCollectionString, b, nullptr, nullptr, e));                                \
    }

FJ_COLLECTION_WRITERS(ns::Array)
FJ_COLLECTION_WRITERS(ns::Dictionary)

#undef FJ_COLLECTION_WRITERS

}  // namespace json
