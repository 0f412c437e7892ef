// The phone's More tab: the rows of the bundle file "more.plist" with the
// rate prompt, the sign-up and referral overlays, mail, the maker's pages,
// sub-menus and cards.
#pragma once

#include "app/RatePromptManager.h"
#include "app/phone/MenuScreen.h"

namespace app {

class MoreViewController_iPhone : public MenuScreen {
public:
    const char* className() const override { return "MoreViewController_iPhone"; }

    RatePromptManager* rate() const { return rate_.get(); }

    void sendToFacebook();

    long tableViewNumberOfRowsInSection(ui::TableView*, long) override {
        return arrayTable_ ? static_cast<long>(arrayTable_->count()) : 0;
    }
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    void loadView() override;
    void viewDidLoad() override;

private:
    ns::Ref<RatePromptManager> rate_;
};

}  // namespace app
