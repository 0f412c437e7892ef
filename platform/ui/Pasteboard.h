// The general pasteboard and the saved-photos album, as far as the app's
// sharers use them: the pasteboard keeps the last string, URL or image put
// on it (one item); the album keeps the images saved to it, in order.
// Main thread only, as the platform's were.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/ui/Image.h"

namespace ui {

class Pasteboard : public ns::Object {
public:
    const char* className() const override { return "Pasteboard"; }
    static Pasteboard* generalPasteboard();

    // Each setter replaces the whole content.
    void setString(std::string s);
    void setURL(ns::Ref<ns::URL> url);
    void setImage(ns::Ref<Image> image);
    // The content as text: the string, or the URL's absolute string; "" for none.
    std::string string() const;
    const ns::Ref<ns::URL>& URL() const { return url_; }
    const ns::Ref<Image>& image() const { return image_; }
    // Number of times the content changed.
    long changeCount() const { return changes_; }
    void clear();

private:
    std::string string_;
    bool hasString_ = false;
    ns::Ref<ns::URL> url_;
    ns::Ref<Image> image_;
    long changes_ = 0;
};

// Saves `image` to the saved-photos album (no completion callback).
void imageWriteToSavedPhotosAlbum(ns::Ref<Image> image);
// The album's images, oldest first; clearing empties it.
std::vector<ns::Ref<Image>> savedPhotosAlbum();
void clearSavedPhotosAlbum();

}  // namespace ui
