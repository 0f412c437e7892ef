// Pieces shared by the property-list readers and writers. Not for use
// outside the property-list code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/PropertyList.h"

namespace ns::plist {

Ref<Error> makeError(long code, std::string message);

// Format-specific entry points; each answers nil/false with *error set.
Ref<Object> readXML(std::string_view bytes, const PropertyListReadOptions& options, Ref<Error>* error);
Ref<Object> readBinary(std::string_view bytes, const PropertyListReadOptions& options, Ref<Error>* error);
bool writeXML(const Object& root, std::string& out, Ref<Error>* error);
bool writeBinary(const Object& root, std::string& out, Ref<Error>* error);

// Base64 (standard alphabet, '=' padding). Decoding skips XML white space
// and fails on any other character outside the alphabet.
void appendBase64(std::string& out, const uint8_t* bytes, size_t length);
bool decodeBase64(std::string_view text, std::string& out);

// Dates as XML writes them: "YYYY-MM-DDTHH:MM:SSZ", seconds since
// 2001-01-01 UTC. Reading also takes the shortened forms "YYYY",
// "YYYY-MM", "YYYY-MM-DD", "...THH" and "...THH:MM", with or without Z.
bool parseDate(std::string_view text, double& sinceReference);
bool formatDate(double sinceReference, std::string& out);

// Fast UTF-8 check (ASCII runs eight bytes at a time).
bool validUTF8(const char* p, size_t n);

inline constexpr size_t kWriteMaxDepth = 512;

}  // namespace ns::plist
