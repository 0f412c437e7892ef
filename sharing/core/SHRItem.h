// The share item: what travels from the app to a sharer (a URL, a text, an
// image, a file, or a request for the signed-in user's information) with its
// title, text, tags and the service-specific custom values a sharer's form
// adds. It converts to and from a property-list dictionary, the form the
// offline queue stores.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Image.h"

namespace sharing {

enum SHRShareType : int32_t {
    SHRShareTypeUndefined = 0,
    SHRShareTypeURL = 1,
    SHRShareTypeText = 2,
    SHRShareTypeImage = 3,
    SHRShareTypeFile = 4,
    SHRShareTypeUserInfo = 5,
};

class SHRItem : public ns::Object {
public:
    SHRItem() = default;
    const char* className() const override { return "SHRItem"; }
    // "Share type: %@\nURL:%@\nImage:%@\nTitle: %@\nText: %@\nTags:%@\nCustom fields:%@";
    // raises like shareTypeToString for type 5 and above.
    std::string description() const override;

    // Factories (each a new item).
    static ns::Ref<SHRItem> URL(ns::Ref<ns::URL> url) { return URL(std::move(url), nullptr); }
    static ns::Ref<SHRItem> URL(ns::Ref<ns::URL> url, ns::Ref<ns::String> title);
    static ns::Ref<SHRItem> image(ns::Ref<ui::Image> image) { return SHRItem::image(std::move(image), nullptr); }
    static ns::Ref<SHRItem> image(ns::Ref<ui::Image> image, ns::Ref<ns::String> title);
    static ns::Ref<SHRItem> text(ns::Ref<ns::String> text);
    static ns::Ref<SHRItem> file(ns::Ref<ns::Data> data, ns::Ref<ns::String> filename,
                                 ns::Ref<ns::String> mimeType, ns::Ref<ns::String> title);

    SHRShareType shareType() const { return shareType_; }
    void setShareType(SHRShareType t) { shareType_ = t; }
    const ns::Ref<ns::URL>& URL() const { return url_; }
    void setURL(ns::Ref<ns::URL> u) { url_ = std::move(u); }
    const ns::Ref<ui::Image>& image() const { return image_; }
    void setImage(ns::Ref<ui::Image> i) { image_ = std::move(i); }
    const ns::Ref<ns::String>& title() const { return title_; }
    void setTitle(ns::Ref<ns::String> t) { title_ = std::move(t); }
    const ns::Ref<ns::String>& text() const { return text_; }
    void setText(ns::Ref<ns::String> t) { text_ = std::move(t); }
    const ns::Ref<ns::String>& tags() const { return tags_; }
    void setTags(ns::Ref<ns::String> t) { tags_ = std::move(t); }
    const ns::Ref<ns::Data>& data() const { return data_; }
    void setData(ns::Ref<ns::Data> d) { data_ = std::move(d); }
    const ns::Ref<ns::String>& mimeType() const { return mimeType_; }
    void setMimeType(ns::Ref<ns::String> m) { mimeType_ = std::move(m); }
    const ns::Ref<ns::String>& filename() const { return filename_; }
    void setFilename(ns::Ref<ns::String> f) { filename_ = std::move(f); }
    // nil until the first setCustomValue.
    const ns::Ref<ns::MutableDictionary>& custom() const { return custom_; }
    void setCustom(ns::Ref<ns::MutableDictionary> c) { custom_ = std::move(c); }

    // Creates the custom dictionary when absent; nil removes the key.
    void setCustomValueForKey(ns::Ref<ns::String> value, std::string_view key);
    ns::String* customValueForKey(std::string_view key) const;
    // True exactly when the stored value is "1".
    bool customBoolForSwitchKey(std::string_view key) const;

    // The dictionary form (a new mutable dictionary): "shareType" always,
    // the other keys only for fields that are set. "URL" holds the absolute
    // string with its percent escapes replaced; "image" the PNG bytes.
    ns::Ref<ns::MutableDictionary> dictionaryRepresentation() const;
    // An item from the dictionary form ("data" is not read back). Values of
    // the wrong kind are ignored; a "URL" whose text is no longer a valid URL
    // gives no URL.
    static ns::Ref<SHRItem> itemFromDictionary(const ns::Dictionary* dictionary);

    // The names of types 0 to 4; any other value raises NSGenericException
    // "Unexpected FormatType.".
    std::string shareTypeToString(int type) const;

private:
    SHRShareType shareType_ = SHRShareTypeUndefined;
    ns::Ref<ns::URL> url_;
    ns::Ref<ui::Image> image_;
    ns::Ref<ns::String> title_, text_, tags_;
    ns::Ref<ns::Data> data_;
    ns::Ref<ns::String> mimeType_, filename_;
    ns::Ref<ns::MutableDictionary> custom_;
};

}  // namespace sharing
