#include "sharing/sharers/facebook/SHRFacebookTextForm.h"

#include "platform/ui/BarItems.h"
#include "sharing/core/SHR.h"
#include "sharing/sharers/facebook/SHRFacebook.h"

namespace sharing {

SHRFacebookTextForm::SHRFacebookTextForm(SHRFacebook* sharer) : sharer_(sharer) {}

void SHRFacebookTextForm::loadView() {
    auto root = ns::make<ui::View>(ui::makeRect(0, 0, 320, 416));
    textView_ = ns::make<ui::TextField>(ui::makeRect(0, 0, 320, 200));
    textView_->setAccessibilityLabel("Message");
    root->addSubview(textView_);
    setView(root);
    setTitle(SHRLocalizedString("Facebook"));
    navigationItem()->setLeftBarButtonItem(ui::BarButtonItem::withTitle(
        SHRLocalizedString("Cancel"), ui::BarButtonItem::Style::Bordered, this, &SHRFacebookTextForm::cancelPressed));
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withTitle(SHRLocalizedString("Send to %@", "Facebook"), ui::BarButtonItem::Style::Done, this,
                                     &SHRFacebookTextForm::sendPressed));
}

void SHRFacebookTextForm::sendPressed(ns::Object*) {
    auto sharer = sharer_.lock();
    if (!sharer) return;
    std::string text = textView()->text();
    if (maxTextLength_ && ns::String::make(text)->length() > maxTextLength_) return;
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    sharer->sendForm(text);
}

void SHRFacebookTextForm::cancelPressed(ns::Object*) {
    auto sharer = sharer_.lock();
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    if (sharer) sharer->sendDidCancel();
}

}  // namespace sharing
