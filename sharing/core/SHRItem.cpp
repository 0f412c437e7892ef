#include "sharing/core/SHRItem.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/URL.h"
#include "sharing/core/ImageCoding.h"

namespace sharing {

ns::Ref<SHRItem> SHRItem::URL(ns::Ref<ns::URL> url, ns::Ref<ns::String> title) {
    auto item = ns::make<SHRItem>();
    item->setShareType(SHRShareTypeURL);
    item->setURL(std::move(url));
    item->setTitle(std::move(title));
    return item;
}

ns::Ref<SHRItem> SHRItem::image(ns::Ref<ui::Image> image, ns::Ref<ns::String> title) {
    auto item = ns::make<SHRItem>();
    item->setShareType(SHRShareTypeImage);
    item->setImage(std::move(image));
    item->setTitle(std::move(title));
    return item;
}

ns::Ref<SHRItem> SHRItem::text(ns::Ref<ns::String> text) {
    auto item = ns::make<SHRItem>();
    item->setShareType(SHRShareTypeText);
    item->setText(std::move(text));
    return item;
}

ns::Ref<SHRItem> SHRItem::file(ns::Ref<ns::Data> data, ns::Ref<ns::String> filename,
                               ns::Ref<ns::String> mimeType, ns::Ref<ns::String> title) {
    auto item = ns::make<SHRItem>();
    item->setShareType(SHRShareTypeFile);
    item->setData(std::move(data));
    item->setFilename(std::move(filename));
    item->setMimeType(std::move(mimeType));
    item->setTitle(std::move(title));
    return item;
}

void SHRItem::setCustomValueForKey(ns::Ref<ns::String> value, std::string_view key) {
    if (!custom_) custom_ = ns::MutableDictionary::make();
    if (value) custom_->setObject(std::move(value), key);
    else custom_->removeObjectForKey(key);
}

ns::String* SHRItem::customValueForKey(std::string_view key) const {
    return custom_ ? custom_->stringForKey(key) : nullptr;
}

bool SHRItem::customBoolForSwitchKey(std::string_view key) const {
    ns::String* v = customValueForKey(key);
    return v && v->isEqualToString("1");
}

ns::Ref<ns::MutableDictionary> SHRItem::dictionaryRepresentation() const {
    auto d = ns::MutableDictionary::make();
    d->setObject(ns::Number::numberWithInt(shareType_), "shareType");
    if (custom_) d->setObject(custom_, "custom");
    if (url_) {
        if (auto plain = ns::removePercentEncoding(url_->absoluteText())) d->setObject(ns::str(*plain), "URL");
    }
    if (title_) d->setObject(title_, "title");
    if (text_) d->setObject(text_, "text");
    if (tags_) d->setObject(tags_, "tags");
    if (mimeType_) d->setObject(mimeType_, "mimeType");
    if (filename_) d->setObject(filename_, "filename");
    if (data_) d->setObject(data_, "data");
    if (image_) {
        if (auto png = imagePNGRepresentation(image_.get())) d->setObject(png, "image");
    }
    return d;
}

ns::Ref<SHRItem> SHRItem::itemFromDictionary(const ns::Dictionary* dictionary) {
    auto item = ns::make<SHRItem>();
    if (!dictionary) return item;
    if (ns::Number* t = dictionary->numberForKey("shareType")) item->setShareType(static_cast<SHRShareType>(t->intValue()));
    else if (ns::String* s = dictionary->stringForKey("shareType")) item->setShareType(static_cast<SHRShareType>(s->intValue()));
    if (ns::String* u = dictionary->stringForKey("URL")) item->setURL(ns::URL::URLWithString(u->view()));
    if (ns::String* s = dictionary->stringForKey("title")) item->setTitle(ns::Ref<ns::String>(s));
    if (ns::String* s = dictionary->stringForKey("text")) item->setText(ns::Ref<ns::String>(s));
    if (ns::String* s = dictionary->stringForKey("tags")) item->setTags(ns::Ref<ns::String>(s));
    if (ns::Dictionary* c = dictionary->dictionaryForKey("custom")) item->setCustom(c->mutableCopy());
    if (ns::String* s = dictionary->stringForKey("mimeType")) item->setMimeType(ns::Ref<ns::String>(s));
    if (ns::String* s = dictionary->stringForKey("filename")) item->setFilename(ns::Ref<ns::String>(s));
    if (ns::Data* img = dictionary->dataForKey("image")) item->setImage(imageWithData(img->view()));
    return item;
}

std::string SHRItem::shareTypeToString(int type) const {
    switch (type) {
        case SHRShareTypeUndefined: return "SHRShareTypeUndefined";
        case SHRShareTypeURL: return "SHRShareTypeURL";
        case SHRShareTypeText: return "SHRShareTypeText";
        case SHRShareTypeImage: return "SHRShareTypeImage";
        case SHRShareTypeFile: return "SHRShareTypeFile";
        default: throw ns::Exception("NSGenericException", "Unexpected FormatType.");
    }
}

std::string SHRItem::description() const {
    ns::Ref<ns::String> urlText = url_ ? url_->absoluteString() : nullptr;
    return ns::format("Share type: %@\nURL:%@\nImage:%@\nTitle: %@\nText: %@\nTags:%@\nCustom fields:%@",
                      shareTypeToString(shareType_), urlText, image_, title_, text_, tags_, custom_);
}

}  // namespace sharing
