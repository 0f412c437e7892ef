// The phone's menu screen: the "Deck index" and "Tactics" tabs and every
// sub-menu below them. It lists row dictionaries and opens, by the tapped
// row's keys, a deeper menu, a card page, the mail composer, the referral
// overlay or one of the maker's pages.
#pragma once

#include <string>

#include "platform/foundation/Array.h"
#include "platform/ui/Control.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace app {

class MenuViewController : public ui::ViewController, public ui::TableViewDataSource, public ui::TableViewDelegate,
                       public mail::MailComposeViewControllerDelegate {
public:
    const char* className() const override { return "MenuViewController"; }

    ns::Array* arrayTable() const { return arrayTable_.get(); }
    void setArrayTable(ns::Ref<ns::Array> a) { arrayTable_ = std::move(a); }
    // The number of rows the table reports (not the array's count).
    long filas() const { return filas_; }
    void setFilas(long n) { filas_ = n; }
    const std::string& NombreTi() const { return NombreTi_; }
    void setNombreTi(std::string s) { NombreTi_ = std::move(s); }

    ui::TableView* tableView() { view(); return tableView_.get(); }
    ui::Label* titleLabel() { view(); return titleLabel_.get(); }
    ui::Button* btnBack() { view(); return btnBack_.get(); }
    ui::ImageView* imgback() { view(); return imgback_.get(); }
    ui::ImageView* imgLogo() { view(); return imgLogo_.get(); }

    void clicBtnBack(ns::Object* sender);
    void EnviarMail(const ns::Dictionary* mail);
    void sendToWeb();
    // Dismisses the composer, whatever the result.
    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;
    void sendToTwitter();
    void sendToFacebook();

    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override { return filas_; }
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    double tableViewHeightForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return 2; }

private:
    void pushSubMenu(ns::Dictionary* row);
    void pushCard(ns::Dictionary* row);

    ns::Ref<ns::Array> arrayTable_;
    long filas_ = 0;
    std::string NombreTi_;
    ns::Ref<ui::TableView> tableView_;
    ns::Ref<ui::Label> titleLabel_;
    ns::Ref<ui::Button> btnBack_;
    ns::Ref<ui::ImageView> imgback_, imgLogo_;
};

}  // namespace app
