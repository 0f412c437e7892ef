// The tablet search screen (a form sheet over the hub): finds the cards
// whose text contains the typed phrase, without regard to case, lists them
// with their colour strips, and opens the chosen one in the hub with every
// result in the list.
#pragma once

#include <string>

#include "platform/foundation/Array.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace app {

class search_ipadViewController : public ui::ViewController,
                                  public ui::TableViewDataSource,
                                  public ui::TableViewDelegate,
                                  public ui::SearchBarDelegate {
public:
    static constexpr double kRowHeight = 55;

    const char* className() const override { return "search_ipadViewController"; }

    ui::SearchBar* searchBar() const { return searchBar_.get(); }
    ui::TableView* tableView() const { return tableView_.get(); }
    ns::Array* allCards() const { return allCards_.get(); }
    void setAllCards(ns::Ref<ns::Array> cards) { allCards_ = cards ? std::move(cards) : ns::Array::make(); }
    ns::Array* searchResults() const { return searchResults_.get(); }

    // Runs the search for the search bar's text; with no result shows the
    // "No data" alert.
    void doSearch();
    // The result's colour ("silver" when it has none).
    std::string colorForRow(long row) const;

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }

    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    double tableViewHeightForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override { return kRowHeight; }
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    void searchBarSearchButtonClicked(ui::SearchBar* b) override;
    void searchBarCancelButtonClicked(ui::SearchBar* b) override;

    void setOutlets(ns::Ref<ui::SearchBar> bar, ns::Ref<ui::TableView> table);

private:
    ns::Ref<ui::SearchBar> searchBar_;
    ns::Ref<ui::TableView> tableView_;
    ns::Ref<ns::Array> allCards_ = ns::Array::make();
    ns::Ref<ns::Array> searchResults_ = ns::Array::make();
};

// The search screen's interface: the search bar over the results table.
void buildsearch_ipadViewControllerInterface(search_ipadViewController& c);

}  // namespace app
