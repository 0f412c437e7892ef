#include "sharing/ui/SHRFormController.h"

#include "platform/ui/BarItems.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/View.h"
#include "sharing/core/SHR.h"

namespace sharing {

ns::Ref<SHRFormFieldSettings> SHRFormFieldSettings::label(std::string label, std::string key, unsigned type,
                                                          ns::Ref<ns::String> start,
                                                          ns::Ref<ns::MutableDictionary> optionPickerInfo) {
    auto s = ns::make<SHRFormFieldSettings>();
    s->label_ = std::move(label);
    s->key_ = std::move(key);
    s->type_ = type;
    s->start_ = std::move(start);
    s->optionPickerInfo_ = std::move(optionPickerInfo);
    return s;
}

SHRFormController::SHRFormController(SHRFormStyle style, std::string title, std::string rightButtonTitle)
    : style_(style), rightTitle_(std::move(rightButtonTitle)) {
    setTitle(std::move(title));
    navigationItem()->setLeftBarButtonItem(ui::BarButtonItem::withSystemItem(
        ui::BarButtonItem::SystemItem::Cancel, this, &SHRFormController::cancelPressed));
    navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withTitle(
        rightTitle_, ui::BarButtonItem::Style::Done, this, &SHRFormController::rightPressed));
}

void SHRFormController::addSection(ns::Ref<ns::Array> rows, ns::Ref<ns::String> header, ns::Ref<ns::String> footer) {
    sections_.push_back({rows ? rows : ns::Array::make(), std::move(header), std::move(footer)});
}

ns::Array* SHRFormController::rowsOfSection(size_t section) const {
    return section < sections_.size() ? sections_[section].rows.get() : nullptr;
}
ns::String* SHRFormController::headerOfSection(size_t section) const {
    return section < sections_.size() ? sections_[section].header.get() : nullptr;
}
ns::String* SHRFormController::footerOfSection(size_t section) const {
    return section < sections_.size() ? sections_[section].footer.get() : nullptr;
}

void SHRFormController::loadView() {
    ui::ViewController::loadView();
    ui::View* root = view();
    double y = 10, width = root->frame().size.width;
    controls_.clear();
    for (size_t s = 0; s < sections_.size(); ++s) {
        const Section& sec = sections_[s];
        if (sec.header) {
            auto l = ui::Label::make({{10, y}, {width - 20, 24}});
            l->setText(sec.header->utf8());
            root->addSubview(l);
            y += 28;
        }
        for (ns::Object* o : *sec.rows) {
            auto* settings = ns::as<SHRFormFieldSettings>(o);
            if (!settings) continue;
            Control c{s, ns::Ref<SHRFormFieldSettings>(settings), nullptr, nullptr, nullptr};
            unsigned t = settings->type();
            if (t <= SHRFormFieldTypePassword) {
                c.field = ns::make<ui::TextField>(ui::Rect{{10, y}, {width - 20, 31}});
                c.field->setPlaceholder(settings->label());
                c.field->setSecureTextEntry(t == SHRFormFieldTypePassword);
                if (settings->start()) c.field->setText(settings->start()->utf8());
                root->addSubview(c.field);
            } else if (t == SHRFormFieldTypeSwitch) {
                auto l = ui::Label::make({{10, y}, {width - 120, 31}});
                l->setText(settings->label());
                root->addSubview(l);
                c.toggle = ns::make<ui::Switch>(ui::Rect{{width - 104, y}, {94, 27}});
                c.toggle->setOn(settings->start() && settings->start()->isEqualToString("1"));
                root->addSubview(c.toggle);
            } else if (t == SHRFormFieldTypeOptionPicker) {
                auto l = ui::Label::make({{10, y}, {width - 20, 31}});
                l->setText(settings->label());
                root->addSubview(l);
                c.value = settings->start();
            } else {
                continue;
            }
            controls_.push_back(std::move(c));
            y += 44;
        }
        if (sec.footer && !sec.footer->isEmpty()) {
            auto l = ui::Label::make({{10, y}, {width - 20, 24}});
            l->setText(sec.footer->utf8());
            root->addSubview(l);
            y += 28;
        }
        y += 10;
    }
}

SHRFormController::Control* SHRFormController::controlForKey(std::string_view key) {
    view();
    for (auto& c : controls_)
        if (c.settings->key() == key) return &c;
    return nullptr;
}

ns::Ref<ns::MutableDictionary> SHRFormController::formValuesForSection(size_t section) {
    view();
    auto values = ns::MutableDictionary::make();
    for (auto& c : controls_) {
        if (c.section != section || c.settings->key().empty()) continue;
        if (c.field) values->setObject(ns::str(c.field->text()), c.settings->key());
        else if (c.toggle) values->setObject(ns::str(c.toggle->isOn() ? "1" : "0"), c.settings->key());
        else if (c.value && !ns::equal(c.value, c.settings->start())) values->setObject(c.value, c.settings->key());
    }
    return values;
}

bool SHRFormController::setValueForKey(std::string_view key, std::string_view value) {
    Control* c = controlForKey(key);
    if (!c) return false;
    if (c->field) c->field->setText(std::string(value));
    else if (c->toggle) c->toggle->setOn(value == "1");
    else c->value = ns::str(value);
    return true;
}

void SHRFormController::validateForm() {
    for (auto& c : controls_)
        if (c.field && c.field->isFirstResponder()) c.field->resignFirstResponder();
    ns::Ref<SHRFormController> keep(this);
    if (validate_) validate_(this);
}

void SHRFormController::saveForm() {
    ns::Ref<SHRFormController> keep(this);
    if (save_) save_(this);
    close();
}

void SHRFormController::cancel() {
    ns::Ref<SHRFormController> keep(this);
    close();
    if (cancel_) cancel_(this);
}

void SHRFormController::close() { SHR::currentHelper()->hideCurrentViewControllerAnimated(true); }

void SHRFormController::viewDidAppear(bool animated) {
    if (!autoSelect_) return;
    for (auto& c : controls_) {
        if (c.section != 0) break;
        if (c.field) c.field->becomeFirstResponder();
        break;
    }
}

void SHRFormController::viewDidDisappear(bool animated) {
    ui::NavigationController* nav = navigationController();
    if (!nav || !nav->topViewController()) SHR::currentHelper()->viewWasDismissed();
}

}  // namespace sharing
