// The phone's Search tab: the typed text is looked for, without regard to
// case, in every card's "text"; the matching cards are listed in deck order
// and a tap opens the card's page. No match shows the "No data" alert over
// an empty list.
#pragma once

#include <string>

#include "app/SearchResults.h"
#include "platform/foundation/Array.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace app {

class SearchViewControllerIphone : public ui::ViewController,
                                   public ui::SearchBarDelegate,
                                   public ui::TableViewDataSource,
                                   public ui::TableViewDelegate {
public:
    static constexpr double kKeyboardHeight = 167;
    static constexpr double kRowHeight = 55;

    const char* className() const override { return "SearchViewControllerIphone"; }

    // The cards of `cards` whose "text" contains `text` ignoring case, in
    // order. Empty text matches nothing.
    static ns::Ref<ns::Array> cardsMatching(const ns::Array* cards, const std::string& text) {
        return cardsWithText(cards, text);
    }

    ns::Array* allCards() const { return allCards_.get(); }
    void setAllCards(ns::Ref<ns::Array> a) { allCards_ = std::move(a); }
    ns::Array* searchResults() const { return searchResults_.get(); }
    void setSearchResults(ns::Ref<ns::Array> a) { searchResults_ = std::move(a); }
    ui::SearchBar* searchBar() { view(); return searchBar_.get(); }
    ui::TableView* tableView() { view(); return tableView_.get(); }

    void doSearch();
    // The colour name of result `row`: its "color", else "silver".
    std::string colorForRow(long row) const;

    void searchBarSearchButtonClicked(ui::SearchBar* b) override;
    void searchBarTextDidBeginEditing(ui::SearchBar* b) override;
    void searchBarTextDidEndEditing(ui::SearchBar* b) override;
    void searchBarCancelButtonClicked(ui::SearchBar* b) override;

    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    double tableViewHeightForRowAtIndexPath(ui::TableView*, ui::IndexPath) override { return kRowHeight; }
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskPortrait; }

private:
    void resizeTable(double byHeight);

    ns::Ref<ns::Array> allCards_;
    ns::Ref<ns::Array> searchResults_;
    ns::Ref<ui::SearchBar> searchBar_;
    ns::Ref<ui::TableView> tableView_;
    bool searchPending_ = false;
};

}  // namespace app
