#include "app/tablet/NewGroupViewControllerIpad.h"

#include "app/AppConfig.h"
#include "app/AppDelegate.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/GroupCardList.h"
#include "app/tablet/TabletNotifications.h"
#include "platform/foundation/Foundation.h"
#include "platform/ui/AlertView.h"

namespace app {

void buildNewGroupViewControllerIpadInterface(NewGroupViewControllerIpad& c) {
    // Cancel, Done and Save sit in a bar above the list, as a navigation
    // bar would hold them, so they stay in reach however far the list has
    // scrolled; the name field heads the list.
    constexpr double kBar = 50;
    auto root = ui::View::make(ui::makeRect(0, 0, 540, 620));
    auto bar = ui::View::make(ui::makeRect(0, 0, 540, kBar));
    bar->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    root->addSubview(bar);
    auto cancel = ui::Button::make(ui::makeRect(10, 5, 100, 40), NewGroupViewControllerIpad::kCancelTitle);
    cancel->addTarget(&c, &NewGroupViewControllerIpad::cancelGroup, ui::ControlEventTouchUpInside);
    cancel->setAutoresizingMask(ui::AutoresizingFlexibleRightMargin);
    bar->addSubview(cancel);
    auto done = ui::Button::make(ui::makeRect(220, 5, 100, 40), NewGroupViewControllerIpad::kDoneTitle);
    done->addTarget(&c, &NewGroupViewControllerIpad::doneEditingName, ui::ControlEventTouchUpInside);
    done->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin | ui::AutoresizingFlexibleRightMargin);
    bar->addSubview(done);
    auto save = ui::Button::make(ui::makeRect(430, 5, 100, 40), NewGroupViewControllerIpad::kSaveTitle);
    save->addTarget(&c, &NewGroupViewControllerIpad::saveGroup, ui::ControlEventTouchUpInside);
    save->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin);
    bar->addSubview(save);

    auto table = ui::TableView::make(ui::makeRect(0, kBar, 540, 620 - kBar));
    table->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(table);
    auto header = ui::View::make(ui::makeRect(0, 0, 540, 50));
    auto name = ui::TextField::make(ui::makeRect(10, 5, 520, 40));
    name->setPlaceholder(NewGroupViewControllerIpad::kNamePlaceholder);
    name->setBorderStyle(ui::BorderStyle::RoundedRect);
    name->setDelegate(&c);
    header->addSubview(name);

    root->setCoverName("the group editor");
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
    return cardTitleColour(colour);
}

long NewGroupViewControllerIpad::tableViewNumberOfRowsInSection(ui::TableView*, long) {
    return static_cast<long>(allCards_->count());
}

ns::Ref<ui::TableViewCell> NewGroupViewControllerIpad::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    return groupCardCell(t, rowAt(allCards_.get(), static_cast<size_t>(ip.row)), selectedCards_.get());
}

void NewGroupViewControllerIpad::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    groupName_->resignFirstResponder();
    t->deselectRowAtIndexPath(ip, true);
    ns::Ref<ns::Object> card(rowAt(allCards_.get(), static_cast<size_t>(ip.row)));
    if (!card) return;
    toggleGroupCard(t, ip, card.get(), *selectedCards_);
}

bool NewGroupViewControllerIpad::textFieldShouldReturn(ui::TextField* f) {
    f->resignFirstResponder();
    return true;
}

void NewGroupViewControllerIpad::doneEditingName(ns::Object*) { groupName_->resignFirstResponder(); }

void NewGroupViewControllerIpad::cancelGroup(ns::Object*) { dismissViewControllerAnimated(true); }

void NewGroupViewControllerIpad::saveGroup(ns::Object*) {
    if (groupReadyToSave(groupName_->text(), selectedCards_.get())) saveNewGroup();
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
