#include "app/phone/ViewGroupsController.h"

#include <cerrno>

#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/phone/MenuViewController.h"
#include "app/phone/NewGroupController.h"
#include "app/phone/SavedGroupsFile.h"
#include "platform/foundation/FileIO.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace app {

// The interface: a title bar with the back button and the title label, and
// the table below it.
void ViewGroupsController::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setBackgroundColor(ui::Color::black());
    btnBack_ = ui::Button::make(ui::makeRect(5, 10, 90, 40), "Practice");
    btnBack_->addTarget(this, &ViewGroupsController::clicBtnAtras, ui::ControlEventTouchUpInside);
    root->addSubview(btnBack_);
    lbltitle_ = ui::Label::make(ui::makeRect(100, 10, b.width() - 200, 40));
    lbltitle_->setText("Groups");
    lbltitle_->setTextAlignment(ui::TextAlignment::Center);
    root->addSubview(lbltitle_);
    tableView_ = ui::TableView::make(ui::makeRect(0, 60, b.width(), b.height() - 60));
    tableView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(tableView_);
    setView(root);
}

void ViewGroupsController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    ns::Weak<ViewGroupsController> weak(this);
    observer_ = ns::NotificationCenter::defaultCenter()->addObserver(
        kGrabarNuevoGrupoNotification, nullptr, [weak](const ns::Notification& n) {
            if (auto self = weak.lock()) self->GrabarNuevoGrupo(n);
        });
    SavedGroupsFile::Loaded loaded = SavedGroupsFile::read();
    grupos_ = loaded.groups;
    blocked_ = loaded.blocked;
    if (loaded.blocked)
        loadProblem_ = "The groups file cannot be read; it is kept as it is and not overwritten.";
    else if (!loaded.movedAsideTo.empty())
        loadProblem_ = "The groups file could not be read; it was kept as " + loaded.movedAsideTo + ".";
    filas_ = static_cast<long>(grupos_->count()) + 1;
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
}

ns::Ref<ui::TableViewCell> ViewGroupsController::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto cell = t->dequeueReusableCellWithIdentifier("CellIdentifier");
    if (!cell) {
        cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, "CellIdentifier");
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Gray);
    }
    if (ip.row == 0) {
        cell->textLabel()->setText(kAddRowText);
        cell->textLabel()->setTextColor(ui::Color::white());
        cell->setBackgroundView(ui::ImageView::withImage(ui::Image::imageNamed(stripImageName("dark"))));
    } else {
        auto* group = rowAt(grupos_.get(), static_cast<size_t>(ip.row - 1));
        cell->textLabel()->setText(SavedGroupsFile::groupName(group));
        cell->textLabel()->setTextColor(ui::Color::black());
        cell->textLabel()->setBackgroundColor(ui::Color::clear());
        cell->setBackgroundView(ui::ImageView::withImage(ui::Image::imageNamed(stripImageName("silver"))));
    }
    return cell;
}

void ViewGroupsController::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto keep = ns::keepAlive(this);
    if (ip.row == 0) {
        auto editor = ns::make<NewGroupController>();
        editor->setModalTransitionStyle(ui::ModalTransitionStyle::CoverVertical);
        presentViewController(editor, true);
        return;
    }
    openGroup(ip.row - 1);
}

void ViewGroupsController::openGroup(long index) {
    auto* nav = navigationController();
    auto* group = rowAt(grupos_.get(), static_cast<size_t>(index));
    if (!nav || !group) return;
    auto menu = ns::make<MenuViewController>();
    ns::Array* cards = SavedGroupsFile::groupCards(group);
    menu->setArrayTable(cards ? ns::Ref<ns::Array>(cards) : ns::Array::make());
    nav->pushViewController(menu, true);
    menu->view();
    menu->titleLabel()->setText(SavedGroupsFile::groupName(group));
    menu->imgback()->setHidden(false);
    menu->imgLogo()->setHidden(true);
    menu->btnBack()->setHidden(false);
    menu->btnBack()->setTitle(lbltitle_->text());
    menu->setFilas(static_cast<long>(menu->arrayTable()->count()));
    menu->tableView()->reloadData();
}

void ViewGroupsController::tableViewCommitEditingStyle(ui::TableView* t, ui::TableViewCellEditingStyle style,
                                                       ui::IndexPath ip) {
    if (style != ui::TableViewCellEditingStyle::Delete || ip.row < 1) return;
    size_t index = static_cast<size_t>(ip.row - 1);
    if (!grupos_ || index >= grupos_->count()) return;
    ns::Ref<ns::Object> removed = grupos_->at(index);
    grupos_->removeObjectAtIndex(index);
    if (!writeGroups()) {
        // Keep memory in step with the file: the group is still there.
        grupos_->insertObjectAtIndex(removed, index);
    }
    filas_ = static_cast<long>(grupos_->count()) + 1;
    tableView_->reloadData();
}

void ViewGroupsController::GrabarNuevoGrupo(const ns::Notification& n) {
    auto group = ns::cast<ns::Dictionary>(n.objectRef());
    if (!group) return;
    AddNewItemGroup(group);
}

bool ViewGroupsController::AddNewItemGroup(ns::Ref<ns::Dictionary> group) {
    view();
    if (!grupos_) grupos_ = ns::MutableArray::make();
    grupos_->addObject(group);
    bool kept = writeGroups();
    if (!kept) grupos_->removeLastObject();
    filas_ = static_cast<long>(grupos_->count()) + 1;
    tableView_->reloadData();
    return kept;
}

bool ViewGroupsController::writeGroups() {
    if (!grupos_) grupos_ = ns::MutableArray::make();
    ns::Ref<ns::Error> error;
    bool ok;
    if (blocked_) {
        error = ns::Error::make(ns::kFileErrorDomain, EACCES,
                                ns::Dictionary::make({{ns::kLocalizedDescriptionKey,
                                                       ns::str("the groups file cannot be read and is kept "
                                                               "as it is")}}));
        appLog("Not saving " + std::string(SavedGroupsFile::kFileName) + ": it could not be read at load");
        ok = false;
    } else {
        ok = SavedGroupsFile::write(*grupos_, &error);
    }
    if (!ok) reportSaveFailure("Groups not saved", error.get());
    return ok;
}

void ViewGroupsController::reportSaveFailure(const std::string& title, ns::Error* error) {
    // The file is named by its place in the home folder, as the person knows it.
    std::string why = error ? withPathsFromHome(error->localizedDescription()) : std::string("unknown error");
    ui::AlertView::make(title, "Your change was not kept: " + why + ".", nullptr, "OK")->show();
}

void ViewGroupsController::clicBtnAtras(ns::Object*) {
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace app
