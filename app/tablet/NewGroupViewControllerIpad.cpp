#include "app/tablet/NewGroupViewControllerIpad.h"

#include "app/AppConfig.h"
#include "app/AppDelegate.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/tablet/TabletNotifications.h"
#include "platform/foundation/Foundation.h"
#include "platform/ui/AlertView.h"

namespace app {

void buildNewGroupViewControllerIpadInterface(NewGroupViewControllerIpad& c) {
    auto root = ui::View::make(ui::makeRect(0, 0, 540, 620));
    auto table = ui::TableView::make(ui::makeRect(0, 0, 540, 620));
    table->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(table);

    auto header = ui::View::make(ui::makeRect(0, 0, 540, 100));
    auto cancel = ui::Button::make(ui::makeRect(10, 5, 100, 40), NewGroupViewControllerIpad::kCancelTitle);
    cancel->addTarget(&c, &NewGroupViewControllerIpad::cancelGroup, ui::ControlEventTouchUpInside);
    header->addSubview(cancel);
    auto done = ui::Button::make(ui::makeRect(220, 5, 100, 40), NewGroupViewControllerIpad::kDoneTitle);
    done->addTarget(&c, &NewGroupViewControllerIpad::doneEditingName, ui::ControlEventTouchUpInside);
    header->addSubview(done);
    auto save = ui::Button::make(ui::makeRect(430, 5, 100, 40), NewGroupViewControllerIpad::kSaveTitle);
    save->addTarget(&c, &NewGroupViewControllerIpad::saveGroup, ui::ControlEventTouchUpInside);
    header->addSubview(save);
    auto name = ui::TextField::make(ui::makeRect(10, 55, 520, 40));
    name->setPlaceholder(NewGroupViewControllerIpad::kNamePlaceholder);
    name->setBorderStyle(ui::BorderStyle::RoundedRect);
    name->setDelegate(&c);
    header->addSubview(name);

    c.setView(root);
    c.setOutlets(table, name, header);
}

void NewGroupViewControllerIpad::setOutlets(ns::Ref<ui::TableView> table, ns::Ref<ui::TextField> name,
                                            ns::Ref<ui::View> header) {
    tableView_ = std::move(table);
    groupName_ = std::move(name);
    headerView_ = std::move(header);
}

void NewGroupViewControllerIpad::loadView() { buildNewGroupViewControllerIpadInterface(*this); }

void NewGroupViewControllerIpad::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    auto cards = bundleArray(kAllCardsFile);
    allCards_ = cards ? cards : ns::Array::make();
    selectedCards_ = ns::MutableArray::make();
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
    tableView_->setTableHeaderView(headerView_);
    groupName_->becomeFirstResponder();
}

ns::Ref<ui::Color> NewGroupViewControllerIpad::colorForCardColor(const std::string& colour) {
    if (colour == "wine") return ui::Color::colorWithRGBA(0.58, 0.15, 0.56, 1);
    if (colour == "blue") return ui::Color::colorWithRGBA(0, 0.31, 0.75, 1);
    if (colour == "yellow") return ui::Color::colorWithRGBA(1.0, 0.57, 0, 1);
    if (colour == "purple") return ui::Color::colorWithRGBA(0.34, 0.16, 0.5, 1);
    if (colour == "green") return ui::Color::colorWithRGBA(0, 0.49, 0.28, 1);
    if (colour == "cyan") return ui::Color::colorWithRGBA(0, 0.7, 0.86, 1);
    return ui::Color::black();
}

bool NewGroupViewControllerIpad::isSelected(ns::Object* card) const {
    return card && selectedCards_->indexOfObjectIdenticalTo(card) != ns::NotFound;
}

long NewGroupViewControllerIpad::tableViewNumberOfRowsInSection(ui::TableView*, long) {
    return static_cast<long>(allCards_->count());
}

ns::Ref<ui::TableViewCell> NewGroupViewControllerIpad::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto cell = t->dequeueReusableCellWithIdentifier("Cell");
    if (!cell) {
        cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, "Cell");
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
    }
    ns::Dictionary* card = rowAt(allCards_.get(), static_cast<size_t>(ip.row));
    cell->setAccessoryType(isSelected(card) ? ui::TableViewCellAccessoryType::Checkmark
                                            : ui::TableViewCellAccessoryType::None);
    cell->textLabel()->setText(rowString(card, "title"));
    cell->textLabel()->setTextColor(colorForCardColor(rowString(card, "color")));
    return cell;
}

void NewGroupViewControllerIpad::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    groupName_->resignFirstResponder();
    t->deselectRowAtIndexPath(ip, true);
    ns::Ref<ns::Object> card(rowAt(allCards_.get(), static_cast<size_t>(ip.row)));
    if (!card) return;
    size_t at = selectedCards_->indexOfObjectIdenticalTo(card.get());
    bool ticked = at == ns::NotFound;
    if (ticked) selectedCards_->addObject(card);
    else selectedCards_->removeObjectAtIndex(at);
    if (ui::TableViewCell* cell = t->cellForRowAtIndexPath(ip))
        cell->setAccessoryType(ticked ? ui::TableViewCellAccessoryType::Checkmark : ui::TableViewCellAccessoryType::None);
}

bool NewGroupViewControllerIpad::textFieldShouldReturn(ui::TextField* f) {
    f->resignFirstResponder();
    return true;
}

void NewGroupViewControllerIpad::doneEditingName(ns::Object*) { groupName_->resignFirstResponder(); }

void NewGroupViewControllerIpad::cancelGroup(ns::Object*) { dismissViewControllerAnimated(true); }

void NewGroupViewControllerIpad::saveGroup(ns::Object*) {
    if (groupName_->text().empty()) {
        ui::AlertView::make("Group Name", "Please choose a name for this group.", nullptr, "OK")->show();
        return;
    }
    if (selectedCards_->count() == 0) {
        ui::AlertView::make("Choose Cards", "Please choose the cards to include in this group.", nullptr, "OK")->show();
        return;
    }
    saveNewGroup();
}

namespace {

// Blanks and tabs at both ends removed.
std::string trimBlanks(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

}  // namespace

bool NewGroupViewControllerIpad::saveNewGroup() {
    std::string name = groupName_->text();
    auto group = ns::MutableDictionary::make();
    group->setObject(ns::String::make(trimBlanks(name).empty() ? std::string("New Group") : name), "Title");
    group->setObject(selectedCards_->mutableCopy(), "Children");
    group->setObject(ns::String::make("silver"), "color");
    group->setObject(ns::String::make("YES"), "Editable");

    AppDelegate* d = AppDelegate::shared();
    ns::Ref<ns::Error> error;
    if (!d || !d->addGroup(group, &error)) {
        appLog("Saving group \"" + name + "\" failed: " + (error ? error->description() : std::string("no application")));
        ui::AlertView::make("Error", "The group could not be saved.", nullptr, "OK")->show();
        return false;
    }
    postTablet(kActualizarGrupos);
    dismissViewControllerAnimated(true);
    return true;
}

}  // namespace app
