// The list screen behind an option-picker row of a form: one row per option
// with a check mark on the chosen ones. Single choice reports the tapped
// option at once; multiple choice ticks and unticks rows and reports them
// all on Done. Cancel reports nil. A list that is not "static" is asked of
// the provider stored in the field's option-picker information, which
// delivers it later (optionsEnumerated / optionsEnumerationFailedWithError).
#pragma once

#include <string>

#include "platform/ui/AlertView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing {

class SHRFormOptionController;

// Supplies an option list. Adopted by an ns::Object stored under
// "SHRFormOptionControllerOptionProvider".
class SHRFormOptionControllerOptionProvider {
public:
    virtual ~SHRFormOptionControllerOptionProvider() = default;
    virtual void SHRFormOptionControllerEnumerateOptions(SHRFormOptionController* c) = 0;
    virtual void SHRFormOptionControllerCancelEnumerateOptions(SHRFormOptionController* c) = 0;
};

class SHRFormOptionController : public ui::ViewController,
                                public ui::TableViewDataSource,
                                public ui::TableViewDelegate,
                                public ui::AlertViewDelegate {
public:
    SHRFormOptionController(ns::Ref<SHRFormFieldSettings> settings, SHRFormOptionControllerClient* client);
    const char* className() const override { return "SHRFormOptionController"; }

    const ns::Ref<SHRFormFieldSettings>& settings() const { return settings_; }
    SHRFormOptionControllerClient* client() const { return client_.get(); }
    ui::TableView* tableView();
    bool didHaveOptionsDelivered() const { return delivered_; }
    bool isProviderRunning() const { return provider_.get() != nullptr; }

    void optionsEnumerated(ns::Ref<ns::Array> options);
    void optionsEnumerationFailedWithError(ns::Ref<ns::Error> error);
    void updateFromOptions();
    void cancel(ns::Object* sender = nullptr);
    void done(ns::Object* sender = nullptr);

    void loadView() override;
    void viewDidLoad() override;

    long tableViewNumberOfRowsInSection(ui::TableView*, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void alertViewClickedButtonAtIndex(ui::AlertView*, long) override { cancel(); }

private:
    ns::MutableDictionary* info() const { return settings_->optionPickerInfo().get(); }
    bool flag(const char* key) const;
    void showDoneButton();
    std::vector<long> chosenIndexes() const;
    ns::Ref<SHRFormFieldSettings> settings_;
    ns::WeakDelegate<SHRFormOptionControllerClient> client_;
    ns::Ref<ui::TableView> table_;
    // The running provider (not retained: the settings' dictionary keeps it).
    ns::WeakDelegate<SHRFormOptionControllerOptionProvider> provider_;
    bool delivered_ = false;
};

}  // namespace sharing
