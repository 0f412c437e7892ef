#include "platform/ui/Image.h"

#include <fstream>
#include <mutex>

#include "platform/foundation/Paths.h"

namespace ui {

namespace {
std::mutex folderMutex;
std::string& folderStorage() {
    static std::string folder;
    return folder;
}
uint32_t be32(const unsigned char* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint16_t be16(const unsigned char* p) { return uint16_t((p[0] << 8) | p[1]); }
}  // namespace

void Image::setImageFolder(std::string folder) {
    std::lock_guard<std::mutex> g(folderMutex);
    folderStorage() = std::move(folder);
}

std::string Image::imageFolder() {
    std::lock_guard<std::mutex> g(folderMutex);
    return folderStorage();
}

bool Image::readImageSize(std::string_view bytes, Size& out) {
    auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (n >= 24 && std::equal(png, png + 8, p) && std::string_view(bytes.data() + 12, 4) == "IHDR") {
        // Each side from 1 to 2^31 - 1, as the format allows.
        uint32_t w = be32(p + 16), h = be32(p + 20);
        if (w == 0 || h == 0 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu) return false;
        out = {double(w), double(h)};
        return true;
    }
    if (n >= 4 && p[0] == 0xFF && p[1] == 0xD8) {
        // Walk the JPEG segments to the first start-of-frame marker.
        size_t i = 2;
        while (i + 4 <= n) {
            if (p[i] != 0xFF) return false;
            unsigned char marker = p[i + 1];
            if (marker == 0xFF) { ++i; continue; }
            if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { i += 2; continue; }
            if (marker == 0xD9 || marker == 0xDA) return false;  // end or scan before any frame
            size_t len = be16(p + i + 2);
            if (len < 2 || i + 2 + len > n) return false;
            bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
            if (sof) {
                if (len < 7) return false;
                // A frame has a width; its height may come later in the
                // file (0 here), which this header cannot tell.
                if (be16(p + i + 7) == 0 || be16(p + i + 5) == 0) return false;
                out = {double(be16(p + i + 7)), double(be16(p + i + 5))};
                return true;
            }
            i += 2 + len;
        }
    }
    return false;
}

ns::Ref<Image> Image::imageWithContentsOfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    // The header is all we need; a JPEG frame header sits near the start
    // unless large metadata precedes it, so read up to 256 KiB.
    std::string head(256 * 1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    Size s;
    if (!readImageSize(head, s)) return nullptr;
    auto slash = path.find_last_of('/');
    return make(slash == std::string::npos ? path : path.substr(slash + 1), s);
}

ns::Ref<Image> Image::imageNamed(std::string_view name) {
    if (name.empty() || name.find("..") != std::string_view::npos) return nullptr;
    std::string file(name);
    auto slash = file.find_last_of('/');
    auto dot = file.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) file += ".png";
    std::string folder = imageFolder();
    if (folder.empty()) folder = ns::Paths::bundleResourcePath();
    std::string path = folder.empty() ? file : ns::Paths::join(folder, file);
    auto img = imageWithContentsOfFile(path);
    if (img) img->name_ = file;
    return img;
}

}  // namespace ui
