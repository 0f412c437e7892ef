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
        out += (any ? "," : "") + std::string(text->utf8());
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
    table_ = ui::TableView::make({{0, 0}, {320, 416}}, style_ == SHRFormStyle::Grouped ? ui::TableViewStyle::Grouped
                                                                                       : ui::TableViewStyle::Plain);
    table_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    // Components outside 0-1, passed on as they are.
    table_->setBackgroundColor(ui::Color::colorWithRGBA(-1.0, -1.0, -1.0, 1.0));
    setView(table_);
    table_->setDataSource(this);
    table_->setDelegate(this);
}

ui::TableView* SHRFormController::tableView() {
    view();
    return table_.get();
}

long SHRFormController::tableViewNumberOfRowsInSection(ui::TableView*, long section) {
    ns::Array* rows = section >= 0 ? rowsOfSection(static_cast<size_t>(section)) : nullptr;
    return rows ? static_cast<long>(rows->count()) : 0;
}

std::string SHRFormController::tableViewTitleForHeaderInSection(ui::TableView*, long section) {
    ns::String* header = section >= 0 ? headerOfSection(static_cast<size_t>(section)) : nullptr;
    return header ? std::string(header->utf8()) : std::string();
}

std::string SHRFormController::tableViewTitleForFooterInSection(ui::TableView*, long section) {
    ns::String* footer = section >= 0 ? footerOfSection(static_cast<size_t>(section)) : nullptr;
    return footer ? std::string(footer->utf8()) : std::string();
}

ns::Ref<ns::String> SHRFormController::shownValue(const SHRFormFieldSettings& settings) const {
    if (auto* kept = values_->stringForKey(settings.key())) return ns::Ref<ns::String>(kept);
    if (!settings.start()) return nullptr;
    if (settings.type() == SHRFormFieldTypeOptionPicker && settings.optionPickerInfo()) {
        ns::String* cur = settings.optionPickerInfo()->stringForKey("curIndexes");
        if (cur && !cur->isEqualToString("-1")) return settings.optionPickerValueForIndexes(cur);
    }
    return settings.start();
}

ns::Ref<ui::TableViewCell> SHRFormController::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    SHRFormFieldSettings* settings = rowSettingsForIndexPath(ip);
    bool option = settings && settings->type() == SHRFormFieldTypeOptionPicker;
    std::string identifier = option ? "OptionCell" : "Cell";
    ns::Ref<SHRFormFieldCell> cell;
    if (auto reused = t->dequeueReusableCellWithIdentifier(identifier)) {
        cell = ns::Ref<SHRFormFieldCell>(ns::as<SHRFormFieldCell>(reused.get()));
        if (cell) keepValueOfCell(cell.get());  // the value of the row it showed before
    }
    if (!cell) {
        cell = ns::make<SHRCustomFormFieldCell>(identifier);
        cell->setForm(this);
    }
    cell->setSettings(ns::Ref<SHRFormFieldSettings>(settings));
    cell->setLabelWidth(option ? labelWidth_ : 0);
    cell->setValue(settings ? shownValue(*settings) : nullptr);
    return cell;
}

void SHRFormController::keepValueOfCell(SHRFormFieldCell* cell) {
    SHRFormFieldSettings* settings = cell ? cell->settings() : nullptr;
    if (!settings || settings->key().empty() || settings->type() == SHRFormFieldTypeOptionPicker) return;
    if (auto value = cell->getValue()) values_->setObject(value, settings->key());
}

std::optional<ui::IndexPath> SHRFormController::indexPathForKey(std::string_view key) const {
    for (size_t s = 0; s < sections_.size(); ++s) {
        const auto& rows = *sections_[s].rows;
        for (size_t r = 0; r < rows.count(); ++r)
            if (auto* f = ns::as<SHRFormFieldSettings>(rows.objectAtIndex(r)); f && f->key() == key)
                return ui::IndexPath::forRow(static_cast<long>(r), static_cast<long>(s));
    }
    return std::nullopt;
}

SHRFormFieldCell* SHRFormController::cellForKey(std::string_view key) {
    auto ip = indexPathForKey(key);
    return ip ? ns::as<SHRFormFieldCell>(tableView()->cellForRowAtIndexPath(*ip)) : nullptr;
}

ns::Ref<ns::MutableDictionary> SHRFormController::formValuesForSection(size_t section) {
    auto values = ns::MutableDictionary::make();
    ns::Array* rows = rowsOfSection(section);
    if (!rows) return values;
    for (size_t r = 0; r < rows->count(); ++r) {
        auto* settings = ns::as<SHRFormFieldSettings>(rows->objectAtIndex(r));
        if (!settings || settings->key().empty()) continue;
        auto* cell = ns::as<SHRFormFieldCell>(
            tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(static_cast<long>(r), static_cast<long>(section))));
        ns::Ref<ns::String> value;
        if (cell && cell->settings() && cell->settings()->key() == settings->key()) value = cell->getValue();
        bool option = settings->type() == SHRFormFieldTypeOptionPicker;
        if (value && !(option && value->isEmpty())) {
            // An option row left at its start value is not a choice.
            if (!(option && ns::equal(value, settings->start()))) values->setObject(value, settings->key());
        } else if (auto* kept = values_->objectForKey(settings->key())) {
            values->setObject(ns::Ref<ns::Object>(kept), settings->key());
        }
    }
    return values;
}

bool SHRFormController::setValueForKey(std::string_view key, std::string_view value) {
    auto ip = indexPathForKey(key);
    if (!ip) return false;
    SHRFormFieldSettings* settings = rowSettingsForIndexPath(*ip);
    auto text = ns::str(value);
    SHRFormFieldCell* cell = cellForKey(key);
    if (settings->type() == SHRFormFieldTypeOptionPicker) {
        if (text->isEqualToString("-1")) values_->removeObjectForKey(key);
        else values_->setObject(text, settings->key());
        if (cell) cell->setValue(shownValue(*settings));
    } else if (cell) {
        cell->setValue(text);
    } else {
        values_->setObject(text, settings->key());
    }
    return true;
}

void SHRFormController::tableViewDidSelectRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    SHRFormFieldSettings* settings = rowSettingsForIndexPath(ip);
    if (!settings || settings->type() != SHRFormFieldTypeOptionPicker || !settings->optionPickerInfo()) return;
    if (ui::NavigationController* nav = navigationController())
        nav->pushViewController(ns::make<SHRFormOptionController>(ns::Ref<SHRFormFieldSettings>(settings), this), true);
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
    std::string text(value ? value->utf8() : "");
    if (t <= SHRFormFieldTypePassword) textField()->setText(text);
    else if (t == SHRFormFieldTypeOptionPicker) detailTextLabel()->setText(text);
    else if (t == SHRFormFieldTypeSwitch && toggle_) toggle_->setOn(text == "1", false);
}

ns::Ref<ns::String> SHRFormFieldCell::getValue() {
    unsigned t = settings_ ? settings_->type() : 0;
    if (t == SHRFormFieldTypeSwitch) return ns::str(toggle_ && toggle_->isOn() ? "1" : "0");
    if (t == SHRFormFieldTypeOptionPicker) return ns::str(detailTextLabel()->text());
    if (t <= SHRFormFieldTypePassword) return ns::str(textField()->text());
    return nullptr;
}

void SHRFormFieldCell::setSelected(bool selected, bool animated) {
    ui::TableViewCell::setSelected(selected, animated);
    if (!settings_ || settings_->type() > SHRFormFieldTypePassword) return;
    if (selected) textField()->becomeFirstResponder();
    else textField()->resignFirstResponder();
}

void SHRFormFieldCell::willMoveToSuperview(ui::View* newSuperview) {
    ui::TableViewCell::willMoveToSuperview(newSuperview);
    if (!newSuperview)
        if (auto f = form_.lock()) f->keepValueOfCell(this);
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
        if (detailTextLabel()->superview() != content) content->addSubview(ns::Ref<ui::View>(detailTextLabel()));
        if (textLabel()->superview() != content) content->addSubview(ns::Ref<ui::View>(textLabel()));
        if (textField_) textField_->removeFromSuperview();
        if (toggle_) toggle_->removeFromSuperview();
    } else {
        // Other types show nothing.
        textLabel()->removeFromSuperview();
        detailTextLabel()->removeFromSuperview();
        if (textField_) textField_->removeFromSuperview();
        if (toggle_) toggle_->removeFromSuperview();
    }
    if (t != SHRFormFieldTypeOptionPicker) setAccessoryType(ui::TableViewCellAccessoryType::None);
}

void SHRFormController::SHRFormControllerPickedOption(SHRFormOptionController* picker, ns::Ref<ns::String> option) {
    auto keep = ns::keepAlive(this);
    SHRFormFieldSettings* settings = picker ? picker->settings().get() : nullptr;
    if (option && settings && !cancelled_) {
        bool none = option->isEqualToString("-1");
        if (none) values_->removeObjectForKey(std::string_view(settings->key()));
        else values_->setObject(option, settings->key());
        ns::Array* rows = rowsOfSection(0);
        size_t row = rows ? rows->indexOfObjectIdenticalTo(settings) : ns::NotFound;
        if (row != ns::NotFound)
            if (auto* cell = ns::as<SHRFormFieldCell>(
                    tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(static_cast<long>(row), 0))))
                cell->setValue(none ? settings->start() : option);
        tableView()->reloadData();
    }
    if (ui::NavigationController* nav = navigationController())
        if (nav->topViewController() != this) nav->popViewControllerAnimated(true);
}

bool SHRFormController::textFieldShouldReturn(ui::TextField* f) {
    if (cancelled_) {
        if (f) f->resignFirstResponder();
        return false;
    }
    validateForm();
    return true;
}

std::optional<ui::IndexPath> SHRFormController::tableViewWillSelectRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    if (cancelled_) return std::nullopt;
    return ip;
}

void SHRFormController::validateForm() {
    if (saved_ || cancelled_) return;  // sent already, or cancelled: the form is on its way out
    if (auto f = activeField_.lock()) f->resignFirstResponder();
    auto keep = ns::keepAlive(this);
    tell(validate_, delegate_.lock());
}

void SHRFormController::saveForm() {
    // A form is saved once: its button (or return key) pressed again while
    // it closes, or while the share it started is under way, starts nothing.
    if (saved_ || cancelled_) return;
    saved_ = true;
    if (auto& right = navigationItem()->rightBarButtonItem()) right->setEnabled(false);
    auto keep = ns::keepAlive(this);
    tell(save_, delegate_.lock());
    close();
}

void SHRFormController::cancel() {
    if (cancelled_) return;  // told once
    cancelled_ = true;
    auto keep = ns::keepAlive(this);
    // The focused field (and any other focus inside the form) is let go
    // first: a return key pressed later reaches no field of this form.
    if (auto f = activeField_.lock()) f->resignFirstResponder();
    if (auto* focused = dynamic_cast<ui::View*>(ui::Responder::currentFirstResponder());
        focused && isViewLoaded() && focused->isDescendantOfView(view()))
        ns::Ref<ui::View>(focused)->resignFirstResponder();
    if (auto& right = navigationItem()->rightBarButtonItem()) right->setEnabled(false);
    // Closing may drop the delegate's last owner (its screen): hold it.
    auto delegate = delegate_.lock();
    close();
    // After a save the share reports its own end: Cancel only closes.
    if (!saved_) tell(cancel_, delegate);
}

void SHRFormController::tell(const Action& op, const ns::Ref<ns::Object>& delegate) {
    if (op && delegate) op(delegate.get(), this);
}

void SHRFormController::close() { SHR::currentHelper()->hideCurrentViewControllerAnimated(true); }

void SHRFormController::viewWillAppear(bool animated) { tableView()->layoutIfNeeded(); }

void SHRFormController::viewDidAppear(bool animated) {
    if (autoSelect_ && tableViewNumberOfRowsInSection(tableView(), 0) > 0)
        tableView()->selectRowAtIndexPath(ui::IndexPath::forRow(0, 0), false, ui::TableViewScrollPosition::None);
}

void SHRFormController::viewDidDisappear(bool animated) {
    ui::NavigationController* nav = navigationController();
    if (!nav || !nav->topViewController()) SHR::currentHelper()->viewWasDismissed();
}

}  // namespace sharing
