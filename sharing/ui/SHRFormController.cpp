#include "sharing/ui/SHRFormController.h"

#include <algorithm>

#include "platform/ui/BarItems.h"
#include "platform/ui/Color.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/View.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRFormOptionController.h"

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

ns::Ref<ns::String> SHRFormFieldSettings::optionPickerValueForIndexes(const ns::String* indexes) const {
    if (!indexes || indexes->isEqualToString("-1")) return ns::str("-1");
    ns::Array* items = optionPickerInfo_ ? optionPickerInfo_->arrayForKey("itemsList") : nullptr;
    std::string out;
    bool any = false;
    auto parts = indexes->componentsSeparatedByString(",");
    for (ns::Object* o : *parts) {
        int i = static_cast<ns::String*>(o)->intValue();
        // An index outside the list picks nothing (rather than reading past it).
        if (!items || i < 0 || static_cast<size_t>(i) >= items->count()) continue;
        auto* text = ns::as<ns::String>(items->objectAtIndex(static_cast<size_t>(i)));
        if (!text) continue;
        out += (any ? "," : "") + text->utf8();
        any = true;
    }
    return any ? ns::str(out) : ns::str("-1");
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
    if (sections_.empty()) {
        double widest = 0;
        auto font = ui::Font::boldSystemFontOfSize(17);
        if (rows)
            for (ns::Object* o : *rows)
                if (auto* f = ns::as<SHRFormFieldSettings>(o); f && f->type() <= SHRFormFieldTypePassword)
                    widest = std::max(widest, ui::textSize(f->label(), font.get()).width);
        labelWidth_ = widest;
    }
    sections_.push_back({rows ? rows : ns::Array::make(), std::move(header), std::move(footer)});
}

SHRFormFieldSettings* SHRFormController::rowSettingsForIndexPath(ui::IndexPath ip) const {
    ns::Array* rows = rowsOfSection(static_cast<size_t>(ip.section));
    if (!rows || ip.row < 0 || static_cast<size_t>(ip.row) >= rows->count()) return nullptr;
    return ns::as<SHRFormFieldSettings>(rows->objectAtIndex(static_cast<size_t>(ip.row)));
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
            if (t > SHRFormFieldTypeOptionPicker) continue;  // other types show nothing
            auto cell = ns::make<SHRCustomFormFieldCell>(t == SHRFormFieldTypeOptionPicker ? "OptionCell" : "Cell");
            cell->setFrame({{10, y}, {width - 20, 44}});
            cell->setForm(this);
            cell->setSettings(ns::Ref<SHRFormFieldSettings>(settings));
            if (t == SHRFormFieldTypeOptionPicker) cell->setLabelWidth(labelWidth_);
            root->addSubview(cell);
            c.cell = cell;
            if (t <= SHRFormFieldTypePassword) {
                c.field = ns::Ref<ui::TextField>(cell->textField());
                if (settings->start()) cell->setValue(settings->start());
            } else if (t == SHRFormFieldTypeSwitch) {
                cell->setValue(settings->start());
            } else {
                // The whole row is the control that opens the list.
                auto b = ns::make<ui::Button>(ui::Rect{{10, y}, {width - 20, 44}}, ui::Button::Type::Custom);
                b->setAccessibilityLabel(settings->label());
                b->setTag(static_cast<long>(controls_.size()));
                b->addTarget(this, &SHRFormController::optionRowTapped, ui::ControlEventTouchUpInside);
                root->addSubview(b);
                c.detail = ns::Ref<ui::Label>(cell->detailTextLabel());
                // The value shown: a kept value, else the start value (as the
                // option texts of its "curIndexes" when some are chosen).
                ns::Ref<ns::String> shown = ns::Ref<ns::String>(values_->stringForKey(settings->key()));
                if (!shown && settings->start()) {
                    shown = settings->start();
                    ns::String* cur = settings->optionPickerInfo() ? settings->optionPickerInfo()->stringForKey("curIndexes") : nullptr;
                    if (cur && !cur->isEqualToString("-1")) shown = settings->optionPickerValueForIndexes(cur);
                }
                showOptionValue(c, shown);
            }
            cell->layoutIfNeeded();
            if (t == SHRFormFieldTypeSwitch) c.toggle = ns::Ref<ui::Switch>(cell->toggle());
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
        else if (auto* kept = values_->objectForKey(c.settings->key())) values->setObject(ns::Ref<ns::Object>(kept), c.settings->key());
    }
    return values;
}

bool SHRFormController::setValueForKey(std::string_view key, std::string_view value) {
    Control* c = controlForKey(key);
    if (!c) return false;
    if (c->field) c->field->setText(std::string(value));
    else if (c->toggle) c->toggle->setOn(value == "1");
    else showOptionValue(*c, ns::str(value));
    return true;
}

void SHRFormController::showOptionValue(Control& c, const ns::Ref<ns::String>& value) {
    c.value = value;
    if (c.cell) c.cell->setValue(value);
    else if (c.detail) c.detail->setText(value ? value->utf8() : "");
}

SHRFormFieldCell* SHRFormController::cellForKey(std::string_view key) {
    Control* c = controlForKey(key);
    return c ? c->cell.get() : nullptr;
}

// -- Row cell ------------------------------------------------------------------

SHRFormFieldCell::SHRFormFieldCell(std::string reuseIdentifier)
    : ui::TableViewCell(ui::TableViewCellStyle::Value1, std::move(reuseIdentifier)) {
    // Components outside 0-1, passed on as they are.
    textLabel()->setTextColor(ui::Color::colorWithRGBA(-1.0, -1.0, -1.0, 1.0));
}

void SHRFormFieldCell::setForm(SHRFormController* f) {
    form_ = f;
    if (textField_) textField_->setDelegate(f);
}

void SHRFormFieldCell::setSettings(ns::Ref<SHRFormFieldSettings> s) {
    settings_ = std::move(s);
    if (settings_) {
        unsigned t = settings_->type();
        if (t != SHRFormFieldTypeOptionPicker) textField()->setPlaceholder(settings_->label());
        if (t > SHRFormFieldTypePassword) textLabel()->setText(settings_->label());
    }
    setNeedsLayout();
}

ui::TextField* SHRFormFieldCell::textField() {
    if (!textField_) {
        textField_ = ns::make<ui::TextField>(ui::Rect{{0, 0}, {0, 25}});
        textField_->setReturnKeyType(ui::ReturnKeyType::Done);
        textField_->setFont(ui::Font::systemFontOfSize(17));
        textField_->setTextColor(ui::Color::colorWithRGBA(1.0 / 3, 1.0 / 3, 1.0 / 3, 1));  // dark grey
        if (auto f = form_.lock()) textField_->setDelegate(f.get());
    }
    return textField_.get();
}

void SHRFormFieldCell::setValue(ns::Ref<ns::String> value) {
    tmpValue_ = value;
    unsigned t = settings_ ? settings_->type() : 0;
    std::string text = value ? value->utf8() : "";
    if (t <= SHRFormFieldTypePassword) textField()->setText(text);
    else if (t == SHRFormFieldTypeOptionPicker) detailTextLabel()->setText(text);
    else if (t == SHRFormFieldTypeSwitch && toggle_) toggle_->setOn(text == "1", false);
}

ns::Ref<ns::String> SHRFormFieldCell::getValue() {
    unsigned t = settings_ ? settings_->type() : 0;
    if (t == SHRFormFieldTypeSwitch) return ns::str(toggle_ && toggle_->isOn() ? "1" : "0");
    if (t == SHRFormFieldTypeOptionPicker) return ns::str(detailTextLabel()->text());
    return ns::str(textField()->text());
}

void SHRFormFieldCell::layoutSubviews() {
    ui::TableViewCell::layoutSubviews();
    if (!settings_) return;
    ui::View* content = contentView();
    double w = content->bounds().width(), h = content->bounds().height();
    ui::Rect valueFrame{{labelWidth_ + 24, std::round((h - 25) / 2) + 2},
                        {std::max(0.0, w - 10 - 24 - labelWidth_), 25}};
    unsigned t = settings_->type();
    if (t <= SHRFormFieldTypePassword) {
        ui::TextField* f = textField();
        f->setSecureTextEntry(t == SHRFormFieldTypePassword);
        if (t != SHRFormFieldTypeText) {
            f->setAutocapitalizationType(ui::AutocapitalizationType::None);
            f->setAutocorrectionType(ui::AutocorrectionType::No);
        }
        f->setFrame(valueFrame);
        if (f->superview() != content) content->addSubview(ns::Ref<ui::View>(f));
        textLabel()->removeFromSuperview();
        detailTextLabel()->removeFromSuperview();
        if (toggle_) toggle_->removeFromSuperview();
    } else if (t == SHRFormFieldTypeSwitch) {
        if (!toggle_) {
            toggle_ = ns::make<ui::Switch>(ui::Rect{{0, 0}, {94, 27}});
            toggle_->setOn(tmpValue_ && tmpValue_->isEqualToString("1"), false);
        }
        ui::Rect sf = toggle_->frame();
        toggle_->setFrame({{w - sf.width() - 10, std::round((h - sf.height()) / 2)}, sf.size});
        if (toggle_->superview() != content) content->addSubview(toggle_);
        if (textLabel()->superview() != content) content->addSubview(ns::Ref<ui::View>(textLabel()));
        if (textField_) textField_->removeFromSuperview();
        detailTextLabel()->removeFromSuperview();
    } else if (t == SHRFormFieldTypeOptionPicker) {
        setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
        detailTextLabel()->setFrame(valueFrame);
        if (textLabel()->superview() != content) content->addSubview(ns::Ref<ui::View>(textLabel()));
        if (textField_) textField_->removeFromSuperview();
        if (toggle_) toggle_->removeFromSuperview();
    }
}

ns::Ref<ns::String> SHRFormController::detailTextForKey(std::string_view key) {
    Control* c = controlForKey(key);
    if (!c || !c->detail) return nullptr;
    return ns::str(c->detail->text());
}

void SHRFormController::optionRowTapped(ns::Object* sender) {
    auto* b = ns::as<ui::View>(sender);
    if (!b || b->tag() < 0 || static_cast<size_t>(b->tag()) >= controls_.size()) return;
    selectRowForKey(controls_[static_cast<size_t>(b->tag())].settings->key());
}

bool SHRFormController::selectRowForKey(std::string_view key) {
    Control* c = controlForKey(key);
    if (!c) return false;
    if (c->settings->type() != SHRFormFieldTypeOptionPicker || !c->settings->optionPickerInfo()) return true;
    ui::NavigationController* nav = navigationController();
    if (!nav) return false;
    nav->pushViewController(ns::make<SHRFormOptionController>(c->settings, this), true);
    return true;
}

void SHRFormController::SHRFormControllerPickedOption(SHRFormOptionController* picker, ns::Ref<ns::String> option) {
    ns::Ref<SHRFormController> keep(this);
    SHRFormFieldSettings* settings = picker ? picker->settings().get() : nullptr;
    if (option && settings) {
        if (option->isEqualToString("-1")) values_->removeObjectForKey(std::string_view(settings->key()));
        else values_->setObject(option, settings->key());
        for (auto& c : controls_)
            if (c.section == 0 && c.settings.get() == settings)
                showOptionValue(c, option->isEqualToString("-1") ? settings->start() : option);
    }
    if (ui::NavigationController* nav = navigationController())
        if (nav->topViewController() != this) nav->popViewControllerAnimated(true);
}

bool SHRFormController::textFieldShouldReturn(ui::TextField*) {
    validateForm();
    return true;
}

void SHRFormController::validateForm() {
    if (auto f = activeField_.lock()) f->resignFirstResponder();
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
