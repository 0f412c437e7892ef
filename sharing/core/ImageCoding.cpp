#include "sharing/core/ImageCoding.h"

#include <png.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace sharing {

namespace {

bool usableSize(const ui::Image* image, int& w, int& h) {
    if (!image) return false;
    double fw = std::ceil(image->size().width), fh = std::ceil(image->size().height);
    if (!(fw >= 1) || !(fh >= 1) || fw > kMaxImageSide || fh > kMaxImageSide) return false;
    w = static_cast<int>(fw);
    h = static_cast<int>(fh);
    return true;
}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}
void pngFlush(png_structp) {}

uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// The "Title" text chunk of a PNG, walking the chunk list with checked lengths.
std::string pngTitle(std::string_view b) {
    size_t pos = 8;
    while (pos + 12 <= b.size()) {
        uint32_t len = be32(reinterpret_cast<const unsigned char*>(b.data() + pos));
        if (len > b.size() - pos - 12) break;
        std::string_view type = b.substr(pos + 4, 4);
        std::string_view body = b.substr(pos + 8, len);
        if (type == "tEXt") {
            size_t nul = body.find('\0');
            if (nul != std::string_view::npos && body.substr(0, nul) == "Title")
                return std::string(body.substr(nul + 1));
        }
        if (type == "IEND") break;
        pos += 12 + len;
    }
    return {};
}

// The comment segment of a JPEG (the first COM marker before the scan).
std::string jpegComment(std::string_view b, std::string_view prefix) {
    size_t pos = 2;
    while (pos + 4 <= b.size()) {
        auto p = reinterpret_cast<const unsigned char*>(b.data() + pos);
        if (p[0] != 0xFF) break;
        unsigned marker = p[1];
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) { pos += 2; continue; }
        size_t len = (size_t(p[2]) << 8) | p[3];
        if (len < 2 || len > b.size() - pos - 2) break;
        if (marker == 0xFE) {
            std::string_view text = b.substr(pos + 4, len - 2);
            if (text.substr(0, prefix.size()) == prefix) return std::string(text.substr(prefix.size()));
        }
        if (marker == 0xDA) break;
        pos += 2 + len;
    }
    return {};
}

constexpr std::string_view kNamePrefix = "name=";
constexpr std::string_view kQualityPrefix = "quality=";
constexpr size_t kMaxCommentBytes = 65000;

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};
void jpegFail(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegError*>(cinfo->err);
    longjmp(e->jump, 1);
}

}  // namespace

ns::Ref<ns::Data> imagePNGRepresentation(const ui::Image* image) {
    int w, h;
    if (!usableSize(image, w, h)) return nullptr;
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return nullptr;
    png_infop info = png_create_info_struct(png);
    if (!info) { png_destroy_write_struct(&png, nullptr); return nullptr; }
    std::vector<png_byte> row(static_cast<size_t>(w), 0xC0);
    std::string name = image->name();
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return nullptr;
    }
    png_set_write_fn(png, &out, pngWrite, pngFlush);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Title");
    text.text = const_cast<char*>(name.c_str());
    text.text_length = name.size();
    png_set_text(png, info, &text, 1);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return ns::Data::make(out);
}

ns::Ref<ns::Data> imageJPEGRepresentation(const ui::Image* image, double quality) {
    int w, h;
    if (!usableSize(image, w, h)) return nullptr;
    if (!(quality >= 0)) quality = 0;
    if (quality > 1) quality = 1;
    int q = std::max(1, static_cast<int>(std::lround(quality * 100)));
    jpeg_compress_struct cinfo{};
    JpegError err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegFail;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<JSAMPLE> row(static_cast<size_t>(w), 0xC0);
    std::string name = std::string(kNamePrefix) + image->name();
    std::string qual = std::string(kQualityPrefix) + std::to_string(q);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        free(buffer);
        return nullptr;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, q, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    // Comments hold at most 65533 bytes; a longer name is cut, between two
    // UTF-8 characters so that the name read back is still text.
    size_t cut = std::min<size_t>(name.size(), kMaxCommentBytes);
    while (cut < name.size() && cut > kNamePrefix.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(name.data()), static_cast<unsigned>(cut));
    jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(qual.data()),
                      static_cast<unsigned>(qual.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    auto data = ns::Data::make(buffer, size);
    free(buffer);
    return data;
}

ns::Ref<ui::Image> imageWithData(std::string_view bytes) {
    ui::Size size;
    if (!ui::Image::readImageSize(bytes, size)) return nullptr;
    if (!(size.width >= 1) || !(size.height >= 1) || size.width > kMaxImageSide || size.height > kMaxImageSide)
        return nullptr;
    std::string name;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG", 4) == 0) name = pngTitle(bytes);
    else name = jpegComment(bytes, kNamePrefix);
    if (name.empty()) name = "image";
    return ui::Image::make(name, size);
}

int jpegQualityOf(std::string_view bytes) {
    std::string q = jpegComment(bytes, kQualityPrefix);
    if (q.empty()) return -1;
    return std::atoi(q.c_str());
}

}  // namespace sharing
