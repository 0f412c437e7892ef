#include "app/phone/NewGroupController.h"

#include "app/AppDelegate.h"
#include "app/ContentModel.h"
#include "app/GroupCardList.h"
#include "app/phone/SavedGroupsFile.h"
#include "app/phone/ViewGroupsController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"

namespace app {

ns::Ref<ui::Color> NewGroupController::colourForCard(const ns::Dictionary* card) {
    return cardTitleColour(rowString(card, "color"));
}

// The interface: Cancel and Save along the top, the table below, and the
// name field in the table's header view.
void NewGroupController::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setBackgroundColor(ui::Color::white());
    btnCancel_ = ui::Button::make(ui::makeRect(5, 10, 80, 40), "Cancel");
    btnCancel_->addTarget(this, &NewGroupController::cancelGroup, ui::ControlEventTouchUpInside);
    root->addSubview(btnCancel_);
    btnSave_ = ui::Button::make(ui::makeRect(b.width() - 85, 10, 80, 40), "Save");
    btnSave_->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin);
    btnSave_->addTarget(this, &NewGroupController::saveGroup, ui::ControlEventTouchUpInside);
    root->addSubview(btnSave_);
    tableView_ = ui::TableView::make(ui::makeRect(0, 60, b.width(), b.height() - 60));
    tableView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(tableView_);
    headerView_ = ui::View::make(ui::makeRect(0, 0, b.width(), 50));
    groupName_ = ui::TextField::make(ui::makeRect(10, 10, b.width() - 20, 30));
    groupName_->setPlaceholder("Group name");
    groupName_->setBorderStyle(ui::BorderStyle::RoundedRect);
    groupName_->setReturnKeyType(ui::ReturnKeyType::Done);
    headerView_->addSubview(groupName_);
    root->setCoverName("the group editor");
    setView(root);
}

void NewGroupController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    AppDelegate* d = AppDelegate::shared();
    allCards_ = ns::Ref<ns::Array>(d ? d->allCards() : nullptr);
    if (!allCards_) allCards_ = ns::Array::make();
    selectedCards_ = ns::MutableArray::make();
    groupName_->setDelegate(this);
    tableView_->setTableHeaderView(headerView_);
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
    groupName_->becomeFirstResponder();
}

long NewGroupController::tableViewNumberOfRowsInSection(ui::TableView*, long) {
    return allCards_ ? static_cast<long>(allCards_->count()) : 0;
}

ns::Ref<ui::TableViewCell> NewGroupController::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    return groupCardCell(t, rowAt(allCards_.get(), static_cast<size_t>(ip.row)), selectedCards_.get());
}

void NewGroupController::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    groupName_->resignFirstResponder();
    t->deselectRowAtIndexPath(ip, true);
    ns::Dictionary* card = rowAt(allCards_.get(), static_cast<size_t>(ip.row));
    if (!card) return;
    toggleGroupCard(t, ip, card, *selectedCards_);
}

bool NewGroupController::textFieldShouldReturn(ui::TextField* f) {
    if (f) f->resignFirstResponder();
    return true;
}

void NewGroupController::saveGroup(ns::Object*) {
    if (groupReadyToSave(groupName_->text(), selectedCards_.get())) saveNewGroup();
}

void NewGroupController::saveNewGroup() {
    auto keep = ns::keepAlive(this);
    auto record = SavedGroupsFile::makeGroup(groupName_->text(), *selectedCards_);
    groupName_->resignFirstResponder();
    ns::NotificationCenter::defaultCenter()->postNotification(kGrabarNuevoGrupoNotification, record);
    dismissViewControllerAnimated(true);
}

void NewGroupController::cancelGroup(ns::Object*) {
    auto keep = ns::keepAlive(this);
    groupName_->resignFirstResponder();
    dismissViewControllerAnimated(true);
}

}  // namespace app
