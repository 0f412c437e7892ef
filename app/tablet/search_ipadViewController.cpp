#include "app/tablet/search_ipadViewController.h"

#include "app/AppConfig.h"
#include "app/ContentModel.h"
#include "app/SearchResults.h"
#include "app/tablet/TabletNotifications.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Image.h"

namespace app {

void buildsearch_ipadViewControllerInterface(search_ipadViewController& c) {
    auto root = ui::View::make(ui::makeRect(0, 0, 540, 620));
    auto bar = ns::make<ui::SearchBar>(ui::makeRect(0, 0, 540, 44));
    bar->setPlaceholder("Search");
    bar->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    root->addSubview(bar);
    auto table = ui::TableView::make(ui::makeRect(0, 44, 540, 576));
    table->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(table);
    c.setView(root);
    c.setOutlets(bar, table);
}

void search_ipadViewController::setOutlets(ns::Ref<ui::SearchBar> bar, ns::Ref<ui::TableView> table) {
    searchBar_ = std::move(bar);
    tableView_ = std::move(table);
}

void search_ipadViewController::loadView() { buildsearch_ipadViewControllerInterface(*this); }

void search_ipadViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    searchBar_->becomeFirstResponder();
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
    searchBar_->setDelegate(this);
    searchBar_->setShowsCancelButton(true);
    searchBar_->setHidden(false);
    setAllCards(bundleArray(kAllCardsFile));
    setTitle("Search");
}

std::string search_ipadViewController::colorForRow(long row) const {
    return searchResultColour(row < 0 ? nullptr : rowAt(searchResults_.get(), static_cast<size_t>(row)));
}

long search_ipadViewController::tableViewNumberOfRowsInSection(ui::TableView*, long) {
    return static_cast<long>(searchResults_->count());
}

ns::Ref<ui::TableViewCell> search_ipadViewController::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    return searchResultCell(t, ip.row < 0 ? nullptr : rowAt(searchResults_.get(), static_cast<size_t>(ip.row)));
}

void search_ipadViewController::searchBarSearchButtonClicked(ui::SearchBar*) {
    ns::Weak<search_ipadViewController> weak(this);
    ns::RunLoop::main()->performDeferred([weak] {
        if (auto self = weak.lock()) self->doSearch();
    });
}

void search_ipadViewController::searchBarCancelButtonClicked(ui::SearchBar*) {
    dismissViewControllerAnimated(true);
}

void search_ipadViewController::doSearch() {
    searchBar_->resignFirstResponder();
    // An empty phrase is contained in no text, as the predicate answers.
    ns::Ref<ns::Array> results = cardsWithText(allCards_.get(), searchBar_->text());
    searchResults_ = results;
    // A new result list shows from its first row, wherever the one before
    // it was scrolled to.
    tableView_->reloadData();
    tableView_->setContentOffset({tableView_->contentOffset().x, 0});
    if (results->count() == 0) ui::AlertView::make("No data", "no match was found.", nullptr, "OK")->show();
}

void search_ipadViewController::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    t->deselectRowAtIndexPath(ip, true);
    ns::Ref<ns::Array> results = searchResults_;
    if (ip.row < 0 || static_cast<size_t>(ip.row) >= results->count()) return;
    postTablet(kActualizarVistaBotones, ns::Array::make({results, ns::num(static_cast<int>(ip.row))}));
    postTablet(kActualizaTitulo, ns::String::make("Search: " + searchBar_->text()));
    postTablet(kModificarModo, ns::num(static_cast<int>(kModoNavegacion)));
    dismissViewControllerAnimated(true);
}

}  // namespace app
