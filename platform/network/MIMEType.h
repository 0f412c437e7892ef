// The preferred MIME type for a file name extension, as the platform's type
// registry would answer it.
#pragma once

#include <string>
#include <string_view>

namespace net {

// The MIME type for an extension (without the dot, any case); empty when
// the extension is unknown.
std::string mimeTypeForPathExtension(std::string_view extension);
// mimeTypeForPathExtension of the path's extension, or
// "application/octet-stream" when it has none or it is unknown.
std::string mimeTypeForPath(std::string_view path);

}  // namespace net
