// The phone's More tab: the rows of the bundle file "more.plist" with the
// rate prompt, the sign-up and referral overlays, mail, the maker's pages,
// sub-menus and cards.
#pragma once

#include "app/RatePromptManager.h"
#include "platform/foundation/Array.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace app {

class MoreViewController_iPhone : public ui::ViewController,
                                  public ui::TableViewDataSource,
                                  public ui::TableViewDelegate,
                                  public mail::MailComposeViewControllerDelegate {
public:
    const char* className() const override { return "MoreViewController_iPhone"; }

    ns::Array* arrayTable() const { return arrayTable_.get(); }
    RatePromptManager* rate() const { return rate_.get(); }
    ui::TableView* tableView() { view(); return tableView_.get(); }

    void EnviarMail(const ns::Dictionary* mail);
    void sendToWeb();
    // Dismisses the composer, whatever the result.
    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;
    void sendToTwitter();
    void sendToFacebook();

    long tableViewNumberOfRowsInSection(ui::TableView*, long) override {
        return arrayTable_ ? static_cast<long>(arrayTable_->count()) : 0;
    }
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    double tableViewHeightForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return 2; }

private:
    ns::Ref<ns::Array> arrayTable_;
    ns::Ref<RatePromptManager> rate_;
    ns::Ref<ui::TableView> tableView_;
};

}  // namespace app
