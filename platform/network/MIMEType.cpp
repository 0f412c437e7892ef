#include "platform/network/MIMEType.h"

#include <unordered_map>

#include "platform/network/HTTPMessage.h"

namespace net {

std::string mimeTypeForPathExtension(std::string_view extension) {
    static const std::unordered_map<std::string, std::string> kTypes = {
        {"html", "text/html"}, {"htm", "text/html"}, {"css", "text/css"}, {"txt", "text/plain"},
        {"text", "text/plain"}, {"csv", "text/csv"}, {"xml", "application/xml"}, {"json", "application/json"},
        {"js", "application/javascript"}, {"plist", "application/x-plist"}, {"rtf", "text/rtf"},
        {"png", "image/png"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"}, {"gif", "image/gif"},
        {"bmp", "image/bmp"}, {"tif", "image/tiff"}, {"tiff", "image/tiff"}, {"ico", "image/vnd.microsoft.icon"},
        {"svg", "image/svg+xml"}, {"webp", "image/webp"}, {"heic", "image/heic"},
        {"pdf", "application/pdf"}, {"zip", "application/zip"}, {"gz", "application/x-gzip"},
        {"tar", "application/x-tar"}, {"doc", "application/msword"}, {"rtfd", "application/rtfd"},
        {"mp3", "audio/mpeg"}, {"m4a", "audio/mp4"}, {"wav", "audio/wav"}, {"aac", "audio/aac"},
        {"mp4", "video/mp4"}, {"m4v", "video/x-m4v"}, {"mov", "video/quicktime"}, {"3gp", "video/3gpp"},
        {"eml", "message/rfc822"}, {"vcf", "text/vcard"}, {"ics", "text/calendar"},
    };
    auto it = kTypes.find(lowercased(extension));
    return it == kTypes.end() ? std::string() : it->second;
}

std::string mimeTypeForPath(std::string_view path) {
    size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return "application/octet-stream";
    std::string type = mimeTypeForPathExtension(name.substr(dot + 1));
    return type.empty() ? "application/octet-stream" : type;
}

}  // namespace net
