#include "app/tablet/search_ipadViewController.h"

#include "app/AppConfig.h"
#include "app/ContentModel.h"
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
    std::string colour = rowString(row < 0 ? nullptr : rowAt(searchResults_.get(), static_cast<size_t>(row)), "color");
    return colour.empty() ? "silver" : colour;
}

long search_ipadViewController::tableViewNumberOfRowsInSection(ui::TableView*, long) {
    return static_cast<long>(searchResults_->count());
}

ns::Ref<ui::TableViewCell> search_ipadViewController::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto cell = t->dequeueReusableCellWithIdentifier("SearchCell");
    if (!cell) {
        cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, "SearchCell");
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Gray);
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
    }
    std::string colour = colorForRow(ip.row);
    cell->textLabel()->setTextColor(colour == "silver" ? ui::Color::black() : ui::Color::white());
    auto strip = ui::ImageView::make();
    strip->setImage(ui::Image::imageNamed(stripImageName(colour)));
    cell->setBackgroundView(strip);
    cell->textLabel()->setText(rowString(rowAt(searchResults_.get(), static_cast<size_t>(ip.row)), "title"));
    cell->textLabel()->setBackgroundColor(ui::Color::clear());
    return cell;
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
    std::string phrase = searchBar_->text();
    auto results = ns::MutableArray::make();
    // An empty phrase is contained in no text, as the predicate answers.
    if (!phrase.empty()) {
        for (ns::Object* o : *allCards_) {
            auto* card = ns::as<ns::Dictionary>(o);
            ns::String* text = card ? card->stringForKey("text") : nullptr;
            if (text && text->containsString(phrase, ns::CaseInsensitiveSearch)) results->addObject(ns::Ref<ns::Object>(o));
        }
    }
    searchResults_ = results;
    tableView_->reloadData();
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
