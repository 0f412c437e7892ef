// The sharers' forms: a table of labelled fields (text, text without
// correction, password, switch, option list) in sections with optional
// header and footer titles, a Cancel button on the left and the caller's
// button on the right. The delegate (not retained) receives validate, save
// and cancel.
//
// Rows are SHRCustomFormFieldCell cells that the table reuses ("OptionCell"
// for option-picker rows, "Cell" for the others). A row's value lives in its
// cell while the row is on screen; when the cell leaves the screen or is
// taken for another row, the value is kept in `values` under the row's key,
// so nothing typed is lost by scrolling. Picked options are kept in
// `values` at once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Foundation.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace sharing {

enum SHRFormFieldType : unsigned {
    SHRFormFieldTypeText = 0,
    SHRFormFieldTypeTextNoCorrect = 1,
    SHRFormFieldTypePassword = 2,
    SHRFormFieldTypeSwitch = 3,
    SHRFormFieldTypeOptionPicker = 4,
};

class SHRFormFieldSettings : public ns::Object {
public:
    const char* className() const override { return "SHRFormFieldSettings"; }
    static ns::Ref<SHRFormFieldSettings> label(std::string label, std::string key, unsigned type,
                                               ns::Ref<ns::String> start,
                                               ns::Ref<ns::MutableDictionary> optionPickerInfo = nullptr);
    const std::string& label() const { return label_; }
    const std::string& key() const { return key_; }
    unsigned type() const { return type_; }
    const ns::Ref<ns::String>& start() const { return start_; }
    const ns::Ref<ns::MutableDictionary>& optionPickerInfo() const { return optionPickerInfo_; }
    // The option texts of "itemsList" picked by `indexes` ("2,0"), joined
    // with ","; "-1" (or indexes that pick nothing) gives "-1". Indexes
    // outside the list are skipped.
    ns::Ref<ns::String> optionPickerValueForIndexes(const ns::String* indexes) const;

private:
    std::string label_, key_;
    unsigned type_ = 0;
    ns::Ref<ns::String> start_;
    ns::Ref<ns::MutableDictionary> optionPickerInfo_;
};

enum class SHRFormStyle { Plain, Grouped };

class SHRFormOptionController;

// The form's side of an option list: told the picked option text, "-1" for
// none, or nil when the list was cancelled.
class SHRFormOptionControllerClient {
public:
    virtual ~SHRFormOptionControllerClient() = default;
    virtual void SHRFormOptionControllerPickedOption(SHRFormOptionController* c, ns::Ref<ns::String> option) = 0;
};

class SHRFormController;

// One row of a form, in the cell style with the label on the left and a
// detail text on the right. Layout by the settings' type: types 0-2 a text
// field (made on first use) starting labelWidth + 24 points in; type 3 the
// label and a switch (made on first layout, given the value set before);
// type 4 the label, the chosen option(s) as detail text and a disclosure
// indicator; other types nothing.
class SHRFormFieldCell : public ui::TableViewCell {
public:
    explicit SHRFormFieldCell(std::string reuseIdentifier);
    const char* className() const override { return "SHRFormFieldCell"; }

    SHRFormFieldSettings* settings() const { return settings_.get(); }
    void setSettings(ns::Ref<SHRFormFieldSettings> s);
    double labelWidth() const { return labelWidth_; }
    void setLabelWidth(double w) { labelWidth_ = w; setNeedsLayout(); }
    SHRFormController* form() const { return form_.lock().get(); }
    void setForm(SHRFormController* f);
    const ns::Ref<ns::String>& tmpValue() const { return tmpValue_; }

    // The text field (made on first use: height 25, return key Done, system
    // 17, dark grey, delegate the form).
    ui::TextField* textField();
    ui::TextField* getTextField() { return textField(); }
    ui::Switch* toggle() const { return toggle_.get(); }
    // Keeps the value, then shows it: text for types 0-2, detail text for 4,
    // the switch on exactly for "1" for type 3.
    void setValue(ns::Ref<ns::String> value);
    // Type 3 "1"/"0", type 4 the detail text, types 0-2 the text field's
    // text; nil for other types (they show nothing).
    ns::Ref<ns::String> getValue();
    // Selected: the text field of a text row takes the focus; deselected: it
    // gives it up.
    void setSelected(bool selected, bool animated = false) override;
    void layoutSubviews() override;
    // Leaving the table: the form keeps the row's value.
    void willMoveToSuperview(ui::View* newSuperview) override;

private:
    ns::Ref<SHRFormFieldSettings> settings_;
    double labelWidth_ = 0;
    ns::Weak<SHRFormController> form_;
    ns::Ref<ui::TextField> textField_;
    ns::Ref<ui::Switch> toggle_;
    ns::Ref<ns::String> tmpValue_;
};

// What the form makes, so an app can customise the rows.
class SHRCustomFormFieldCell : public SHRFormFieldCell {
public:
    using SHRFormFieldCell::SHRFormFieldCell;
    const char* className() const override { return "SHRCustomFormFieldCell"; }
};

class SHRFormController : public ui::ViewController,
                          public ui::TableViewDataSource,
                          public ui::TableViewDelegate,
                          public ui::TextFieldDelegate,
                          public SHRFormOptionControllerClient {
public:
    using Action = std::function<void(ns::Object* delegate, SHRFormController*)>;

    SHRFormController(SHRFormStyle style, std::string title, std::string rightButtonTitle);
    const char* className() const override { return "SHRFormController"; }

    // Appends a section (rows: SHRFormFieldSettings). The first section sets
    // labelWidth: the widest label of its text rows (types 0-2) in the bold
    // system font of size 17, 0 when it has none.
    void addSection(ns::Ref<ns::Array> rows, ns::Ref<ns::String> header, ns::Ref<ns::String> footer);
    size_t numberOfSections() const { return sections_.size(); }
    ns::Array* rowsOfSection(size_t section) const;
    ns::String* headerOfSection(size_t section) const;
    ns::String* footerOfSection(size_t section) const;

    // The delegate (weak) and its three operations, each taking the form.
    template <class D>
    void setDelegate(D* delegate, void (D::*validate)(SHRFormController*), void (D::*save)(SHRFormController*),
                     void (D::*cancel)(SHRFormController*)) {
        delegate_ = delegate;
        auto bind = [](void (D::*op)(SHRFormController*)) -> Action {
            if (!op) return {};
            return [op](ns::Object* d, SHRFormController* f) { (static_cast<D*>(d)->*op)(f); };
        };
        validate_ = bind(validate);
        save_ = bind(save);
        cancel_ = bind(cancel);
    }

    // The form's view (loads it).
    ui::TableView* tableView();
    double labelWidth() const { return labelWidth_; }
    void setLabelWidth(double w) { labelWidth_ = w; }
    // Values of rows that are not on screen and picked options, key -> value.
    const ns::Ref<ns::MutableDictionary>& values() const { return values_; }
    ui::TextField* activeField() const { return activeField_.lock().get(); }
    SHRFormFieldSettings* rowSettingsForIndexPath(ui::IndexPath ip) const;
    // The cell of the row with this key while it is on screen, else nil.
    SHRFormFieldCell* cellForKey(std::string_view key);
    // Keeps the value of a cell that leaves its row (not for option rows,
    // whose picked value is kept already).
    void keepValueOfCell(SHRFormFieldCell* cell);

    void SHRFormControllerPickedOption(SHRFormOptionController* c, ns::Ref<ns::String> option);
    void SHRFormOptionControllerPickedOption(SHRFormOptionController* c, ns::Ref<ns::String> option) override {
        SHRFormControllerPickedOption(c, std::move(option));
    }
    // A cancelled form takes no focus, no return key and no row selection:
    // nothing it holds can be submitted any more.
    bool textFieldShouldBeginEditing(ui::TextField* f) override { return !cancelled_; }
    bool textFieldShouldReturn(ui::TextField* f) override;
    void textFieldDidBeginEditing(ui::TextField* f) override { activeField_ = f; }
    std::optional<ui::IndexPath> tableViewWillSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    bool autoSelect() const { return autoSelect_; }
    void setAutoSelect(bool b) { autoSelect_ = b; }
    SHRFormStyle style() const { return style_; }
    const std::string& rightButtonTitle() const { return rightTitle_; }

    // key -> value of section 0 / of `section` (text as typed, "1"/"0" for switches).
    ns::Ref<ns::MutableDictionary> formValues() { return formValuesForSection(0); }
    ns::Ref<ns::MutableDictionary> formValuesForSection(size_t section);
    // Sets a field's value as a user would (tests and the simulator); for an
    // option row as if the option had been picked. False for an unknown key.
    bool setValueForKey(std::string_view key, std::string_view value);

    // The right button (and a text field's return key): tells the
    // delegate's validate, unless the form has been saved already.
    void validateForm();
    // Tells the delegate's save and closes the form, once: a form that has
    // been saved ignores its button and later saves (a second press would
    // send the share again).
    void saveForm();
    // Lets the focused field go, closes the form and tells the delegate's
    // cancel (unless the form was saved), once. Cancel is final: the form
    // then refuses its button, the return key, focus, row taps, picked
    // options and saves, so nothing typed into it is sent or stored.
    void cancel();
    bool isCancelled() const { return cancelled_; }
    void close();

    void loadView() override;
    // Lays the table out, so its rows are there when the form shows.
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    // Table data and selection.
    long numberOfSectionsInTableView(ui::TableView*) override { return static_cast<long>(sections_.size()); }
    long tableViewNumberOfRowsInSection(ui::TableView*, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    std::string tableViewTitleForHeaderInSection(ui::TableView*, long section) override;
    std::string tableViewTitleForFooterInSection(ui::TableView*, long section) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    // Bar button actions.
    void cancelPressed(ns::Object*) { cancel(); }
    void rightPressed(ns::Object*) { validateForm(); }

private:
    struct Section {
        ns::Ref<ns::Array> rows;
        ns::Ref<ns::String> header, footer;
    };
    std::optional<ui::IndexPath> indexPathForKey(std::string_view key) const;
    // What a row shows when its cell is made or reused.
    ns::Ref<ns::String> shownValue(const SHRFormFieldSettings& settings) const;
    SHRFormStyle style_;
    std::string rightTitle_;
    std::vector<Section> sections_;
    ns::Ref<ui::TableView> table_;
    // Sends `op` to the delegate held by `delegate` (nothing when it is gone).
    void tell(const Action& op, const ns::Ref<ns::Object>& delegate);
    ns::Weak<ns::Object> delegate_;
    Action validate_, save_, cancel_;
    bool autoSelect_ = false;
    bool saved_ = false;      // set by the first saveForm
    bool cancelled_ = false;  // set by the first cancel
    double labelWidth_ = 0;
    ns::Ref<ns::MutableDictionary> values_ = ns::MutableDictionary::make();
    ns::Weak<ui::TextField> activeField_;
};

// What sharers make, so an app can customise the form.
class SHRCustomFormController : public SHRFormController {
public:
    using SHRFormController::SHRFormController;
    const char* className() const override { return "SHRCustomFormController"; }
};

}  // namespace sharing
