#include "platform/ui/Pasteboard.h"

namespace ui {

Pasteboard* Pasteboard::generalPasteboard() {
    static Pasteboard* board = ns::make<Pasteboard>().leak();  // lives for the process
    return board;
}

void Pasteboard::clear() {
    string_.clear();
    hasString_ = false;
    url_ = nullptr;
    image_ = nullptr;
    ++changes_;
}

void Pasteboard::setString(std::string s) {
    clear();
    string_ = std::move(s);
    hasString_ = true;
}

void Pasteboard::setURL(ns::Ref<ns::URL> url) {
    clear();
    url_ = std::move(url);
}

void Pasteboard::setImage(ns::Ref<Image> image) {
    clear();
    image_ = std::move(image);
}

std::string Pasteboard::string() const {
    if (hasString_) return string_;
    if (url_) return url_->absoluteText();
    return {};
}

namespace {
std::vector<ns::Ref<Image>>& album() {
    static std::vector<ns::Ref<Image>> a;
    return a;
}
}  // namespace

void imageWriteToSavedPhotosAlbum(ns::Ref<Image> image) {
    if (image) album().push_back(std::move(image));
}
std::vector<ns::Ref<Image>> savedPhotosAlbum() { return album(); }
void clearSavedPhotosAlbum() { album().clear(); }

}  // namespace ui
