#include "app/phone/SearchViewControllerIphone.h"

#include "app/AppConfig.h"
#include "app/ContentModel.h"
#include "app/SearchResults.h"
#include "app/phone/CardViewController.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace app {

// The interface: the search bar along the top and the results below it.
void SearchViewControllerIphone::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setBackgroundColor(ui::Color::black());
    searchBar_ = ns::make<ui::SearchBar>(ui::makeRect(0, 0, b.width(), 44));
    searchBar_->setPlaceholder("Search");
    searchBar_->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    root->addSubview(searchBar_);
    tableView_ = ui::TableView::make(ui::makeRect(0, 44, b.width(), b.height() - 44 - 49));
    tableView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    root->addSubview(tableView_);
    setView(root);
}

void SearchViewControllerIphone::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
    searchResults_ = ns::Array::make();
    allCards_ = bundleArray(kAllCardsFile);
    setTitle("Search");
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
    searchBar_->setDelegate(this);
    searchBar_->setShowsCancelButton(true);
    searchBar_->setHidden(false);
    searchBar_->becomeFirstResponder();
}

void SearchViewControllerIphone::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
}

void SearchViewControllerIphone::searchBarSearchButtonClicked(ui::SearchBar*) {
    // The search runs on the next pass of the main run loop, after the
    // keyboard's own handling of the key.
    if (searchPending_) return;
    searchPending_ = true;
    ns::Weak<SearchViewControllerIphone> weak(this);
    ns::RunLoop::main()->performDeferred([weak] {
        if (auto self = weak.lock()) {
            self->searchPending_ = false;
            self->doSearch();
        }
    });
}

void SearchViewControllerIphone::doSearch() {
    auto keep = ns::keepAlive(this);
    searchBar_->resignFirstResponder();
    searchResults_ = cardsMatching(allCards_.get(), searchBar_->text());
    // A new result list shows from its first row, wherever the one before
    // it was scrolled to.
    tableView_->reloadData();
    tableView_->setContentOffset({tableView_->contentOffset().x, 0});
    if (searchResults_->count() == 0)
        ui::AlertView::make("No data", "no match was found.", nullptr, "OK")->show();
}

void SearchViewControllerIphone::resizeTable(double by) {
    ui::Rect f = tableView_->frame();
    f.size.height += by;
    tableView_->setFrame(f);
}

void SearchViewControllerIphone::searchBarTextDidBeginEditing(ui::SearchBar*) { resizeTable(-kKeyboardHeight); }
void SearchViewControllerIphone::searchBarTextDidEndEditing(ui::SearchBar*) { resizeTable(kKeyboardHeight); }
void SearchViewControllerIphone::searchBarCancelButtonClicked(ui::SearchBar* b) {
    if (b) b->resignFirstResponder();
}

long SearchViewControllerIphone::tableViewNumberOfRowsInSection(ui::TableView*, long) {
    return searchResults_ ? static_cast<long>(searchResults_->count()) : 0;
}

std::string SearchViewControllerIphone::colorForRow(long row) const {
    return searchResultColour(rowAt(searchResults_.get(), static_cast<size_t>(row)));
}

ns::Ref<ui::TableViewCell> SearchViewControllerIphone::tableViewCellForRowAtIndexPath(ui::TableView* t,
                                                                                      ui::IndexPath ip) {
    return searchResultCell(t, rowAt(searchResults_.get(), static_cast<size_t>(ip.row)));
}

void SearchViewControllerIphone::tableViewDidSelectRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    auto* nav = navigationController();
    ns::Dictionary* card = rowAt(searchResults_.get(), static_cast<size_t>(ip.row));
    if (!nav || !card) return;
    auto page = ns::make<CardViewController>();
    page->setIsRandomCard(false);
    page->setDicCarta(ns::Ref<ns::Dictionary>(card));
    nav->pushViewController(page, true);
    page->view();
    page->btnBack()->setTitle("search");
    page->lblTitle()->setHidden(true);
    page->cargaHtmlWebView(cardPageNameForIndex(rowString(card, "index")));
    page->cambiarColorPagina(rowString(card, "color"));
}

}  // namespace app
