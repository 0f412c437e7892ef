// The phone's menu screen: the "Deck index" and "Tactics" tabs and every
// sub-menu below them. It lists row dictionaries and opens, by the tapped
// row's keys, a deeper menu, a card page, the mail composer, the referral
// overlay or one of the maker's pages.
#pragma once

#include <string>

#include "app/phone/MenuScreen.h"
#include "platform/ui/Control.h"

namespace app {

class MenuViewController : public MenuScreen {
public:
    const char* className() const override { return "MenuViewController"; }

    void setArrayTable(ns::Ref<ns::Array> a) { arrayTable_ = std::move(a); }
    // The number of rows the table reports (not the array's count).
    long filas() const { return filas_; }
    void setFilas(long n) { filas_ = n; }
    const std::string& NombreTi() const { return NombreTi_; }
    void setNombreTi(std::string s) { NombreTi_ = std::move(s); }

    ui::Label* titleLabel() { view(); return titleLabel_.get(); }
    ui::Button* btnBack() { view(); return btnBack_.get(); }
    ui::ImageView* imgback() { view(); return imgback_.get(); }
    ui::ImageView* imgLogo() { view(); return imgLogo_.get(); }

    void clicBtnBack(ns::Object* sender);
    void sendToFacebook();

    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override { return filas_; }
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    void loadView() override;
    void viewDidLoad() override;

private:
    long filas_ = 0;
    std::string NombreTi_;
    ns::Ref<ui::Label> titleLabel_;
    ns::Ref<ui::Button> btnBack_;
    ns::Ref<ui::ImageView> imgback_, imgLogo_;
};

}  // namespace app
