#include "app/tablet/ViewTableList.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "app/AppDelegate.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/forms/UIViewSingUp.h"
#include "app/tablet/TabletNotifications.h"
#include "platform/foundation/Foundation.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"

namespace app {

ns::Ref<ViewTableList> ViewTableList::make(ui::Rect frame) {
    auto list = ns::make<ViewTableList>(frame);
    buildViewTableListInterface(*list);
    list->setUp();
    return list;
}

void buildViewTableListInterface(ViewTableList& list) {
    ui::Rect b = list.bounds();
    auto back = ui::Button::make(ui::makeRect(0, 0, 100, 40), ViewTableList::kBackTitle);
    back->setAutoresizingMask(ui::AutoresizingFlexibleRightMargin);
    back->setHidden(true);
    back->addTarget(&list, &ViewTableList::ClicAtras, ui::ControlEventTouchUpInside);
    list.addSubview(back);
    list.setBtnAtras(back);

    auto table = ui::TableView::make(ui::makeRect(0, 44, b.size.width, b.size.height - 44));
    table->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    list.addSubview(table);
    list.setMyTableView(table);
}

void ViewTableList::setMyTableView(ns::Ref<ui::TableView> t) {
    myTableView_ = std::move(t);
    if (myTableView_) {
        myTableView_->setDataSource(this);
        myTableView_->setDelegate(this);
    }
}

// What the pane did at its first draw, done when it is built instead: a
// notification posted before the first display pass is not lost.
void ViewTableList::setUp() {
    StackObjetosTableView_ = ns::MutableArray::make();
    actualizarGrupos_ = observeTablet(kActualizarGrupos, this, &ViewTableList::ActualizarGrupos);
    actualizaTitulo_ = observeTablet(kActualizaTitulo, this, &ViewTableList::ActualizaTitulo);
    modificarModo_ = observeTablet(kModificarModo, this, &ViewTableList::ModificarModo);
}

// The card pane's title and mode, followed as the pane follows them.
void ViewTableList::ActualizaTitulo(const ns::Notification& n) {
    auto* s = ns::as<ns::String>(n.object());
    paneLook_.title = s ? std::string(s->utf8()) : std::string();
}

void ViewTableList::ModificarModo(const ns::Notification& n) {
    if (auto* number = ns::as<ns::Number>(n.object())) paneLook_.mode = number->longValue();
}

void ViewTableList::setArayObjetosTableView(ns::Ref<ns::Array> rows) {
    arayObjetosTableView_ = rows ? std::move(rows) : ns::Array::make();
}

void ViewTableList::reload() {
    if (myTableView_) myTableView_->reloadData();
}

// Another list shows from its first row, wherever the one before it was
// scrolled to.
void ViewTableList::showFromTop() { showAt(0); }

// The shown list at scroll position `y`, kept within the list (a list that
// is shorter than it was, or a taller table, shows its last rows).
void ViewTableList::showAt(double y) {
    if (!myTableView_) return;
    myTableView_->reloadData();
    myTableView_->numberOfSections();  // works out the list's height
    const double end = myTableView_->contentSize().height - myTableView_->bounds().height();
    myTableView_->setContentOffset({myTableView_->contentOffset().x, std::max(0.0, std::min(y, end))});
}

// Remembers where the shown list is scrolled to and what the card pane
// shows for it, for Back to bring both again; lists no longer on the back
// stack are let go.
void ViewTableList::rememberWhereLeft() {
    const double y = myTableView_ ? myTableView_->contentOffset().y : 0;
    std::vector<LeftList> kept;
    for (auto& left : leftAt_)
        if (left.rows != arayObjetosTableView_ &&
            StackObjetosTableView_->indexOfObjectIdenticalTo(left.rows.get()) != ns::NotFound)
            kept.push_back(std::move(left));
    kept.push_back({arayObjetosTableView_, y, paneLook_});
    leftAt_ = std::move(kept);
}

const ViewTableList::LeftList* ViewTableList::whereLeft(const ns::Array* rows) const {
    for (const auto& left : leftAt_)
        if (left.rows.get() == rows) return &left;
    return nullptr;
}

void ViewTableList::restoreLook(const PaneLook& look) {
    if (look.title) postTablet(kActualizaTitulo, ns::String::make(*look.title));
    if (look.mode) postTablet(kModificarModo, ns::num(static_cast<int>(*look.mode)));
    if (look.cardButtons && cardButtonsHandler_) cardButtonsHandler_(*look.cardButtons);
}

ns::Dictionary* ViewTableList::rowAtIndex(long row) const {
    return row < 0 ? nullptr : rowAt(arayObjetosTableView_.get(), static_cast<size_t>(row));
}

ns::Object* ViewTableList::entryAtIndex(long row) const {
    if (row < 0 || static_cast<size_t>(row) >= arayObjetosTableView_->count()) return nullptr;
    return arayObjetosTableView_->objectAtIndex(static_cast<size_t>(row));
}

bool ViewTableList::showsGroupsList() const { return groupsList_ && groupsList_ == arayObjetosTableView_; }

bool ViewTableList::isGroupRow(long row) const {
    return (showsGroupsList() && row > 0) || rowHas(rowAtIndex(row), "Children");
}

void ViewTableList::ActualizaTableView(ns::Ref<ns::Array> rows) {
    if (btnAtras_) btnAtras_->setHidden(true);
    rememberWhereLeft();
    setArayObjetosTableView(std::move(rows));
    showFromTop();
}

void ViewTableList::PushOnTable(ns::Ref<ns::Array> rows) {
    if (!rows) rows = ns::Array::make();
    if (btnAtras_) btnAtras_->setHidden(false);
    rememberWhereLeft();
    StackObjetosTableView_->addObject(rows);
    setArayObjetosTableView(rows);
    showFromTop();
}

// The shown list made the root again stays where it is scrolled to: it is
// the list a later Back comes back to.
void ViewTableList::SetRootTable(ns::Ref<ns::Array> rows) {
    if (!rows) rows = ns::Array::make();
    const bool same = rows == arayObjetosTableView_;
    const double y = myTableView_ ? myTableView_->contentOffset().y : 0;
    StackObjetosTableView_->removeAllObjects();
    StackObjetosTableView_->addObject(rows);
    setArayObjetosTableView(rows);
    showAt(same ? y : 0);
}

// The list Back comes back to shows where the user left it.
void ViewTableList::ClicAtras(ns::Object*) {
    if (StackObjetosTableView_->count() < 2) return;
    StackObjetosTableView_->removeLastObject();
    setArayObjetosTableView(ns::Ref<ns::Array>(ns::as<ns::Array>(StackObjetosTableView_->lastObject())));
    // A copy: the notifications below may change what is remembered.
    std::optional<LeftList> left;
    if (const LeftList* found = whereLeft(arayObjetosTableView_.get())) left = *found;
    showAt(left ? left->at : 0);
    if (StackObjetosTableView_->count() == 1 && btnAtras_) btnAtras_->setHidden(true);
    if (left) restoreLook(left->look);
}

ns::Ref<ns::Dictionary> ViewTableList::addGroupRow() {
    return ns::Dictionary::make({{"color", ns::String::make("flat")},
                                 {"Title", ns::String::make(kAddGroupTitle)},
                                 {"ActionData", ns::String::make("VELTRA_Blanco.html")},
                                 {"ActionPractice", ns::String::make("CrearGrupo")}});
}

void ViewTableList::CargarListaGrupos() {
    auto rows = ns::MutableArray::make();
    rows->addObject(addGroupRow());
    AppDelegate* d = AppDelegate::shared();
    if (d && d->allGroups()) rows->addObjectsFromArray(*d->allGroups());
    groupsList_ = rows;
    postTablet(kListarTodosLosGruposApp, rows);
}

void ViewTableList::ActualizarGrupos(const ns::Notification&) {
    StackObjetosTableView_->removeLastObject();
    CargarListaGrupos();
}

// -- Table ------------------------------------------------------------------------

long ViewTableList::tableViewNumberOfRowsInSection(ui::TableView*, long) {
    return static_cast<long>(arayObjetosTableView_->count());
}

double ViewTableList::tableViewHeightForRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    ns::Dictionary* r = rowAtIndex(ip.row);
    if (!r || !rowHas(r, "tamano")) return kRowHeight;
    ns::Object* v = r->objectForKey("tamano");
    if (auto* n = ns::as<ns::Number>(v)) return static_cast<double>(n->longValue());
    if (auto* s = ns::as<ns::String>(v)) return static_cast<double>(s->intValue());
    return kRowHeight;
}

bool ViewTableList::isDamagedFavorite(long row) const {
    ns::Object* entry = entryAtIndex(row);
    if (!entry || ns::as<ns::Dictionary>(entry) || showsGroupsList()) return false;
    AppDelegate* d = AppDelegate::shared();
    ns::MutableArray* favorites = d ? d->allFavorites() : nullptr;
    return favorites && favorites->indexOfObjectIdenticalTo(entry) != ns::NotFound;
}

bool ViewTableList::tableViewCanEditRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    // A damaged group or favourite can be swiped away like any other.
    return rowHas(rowAtIndex(ip.row), "Editable") || (showsGroupsList() && ip.row > 0 && entryAtIndex(ip.row)) ||
           isDamagedFavorite(ip.row);
}

namespace {

// An entry that is not a row dictionary: shown as damaged, with nothing left
// over from the row the reused cell showed before.
void showDamagedEntry(ui::TableViewCell& cell) {
    cell.imageView()->setImage(nullptr);
    cell.setBackgroundView(nullptr);
    cell.textLabel()->setText(ViewTableList::kDamagedEntryTitle);
    cell.textLabel()->setTextColor(ui::Color::black());
    cell.textLabel()->setFont(ui::Font::systemFontOfSize(16));
    cell.detailTextLabel()->setText("");
    cell.setAccessoryType(ui::TableViewCellAccessoryType::None);
    cell.setSelectionStyle(ui::TableViewCellSelectionStyle::None);
}

// A group whose "Children" is not a list.
bool isDamagedGroup(const ns::Dictionary* r) { return rowHas(r, "Children") && !rowChildren(r); }

}  // namespace

ns::Ref<ui::TableViewCell> ViewTableList::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    std::string identifier = "CellIdentifier_" + std::to_string(ip.row);
    auto cell = t->dequeueReusableCellWithIdentifier(identifier);
    if (!cell) {
        cell = ui::TableViewCell::make(ui::TableViewCellStyle::Subtitle, identifier);
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Gray);
    }
    ns::Dictionary* r = rowAtIndex(ip.row);
    if (!r) {
        showDamagedEntry(*cell);
        return cell;
    }

    std::string image = rowString(r, "Image");
    cell->imageView()->setImage(image.empty() ? nullptr : ui::Image::imageNamed(image));

    std::string colour = rowString(r, "color");
    cell->textLabel()->setTextColor(colour == "silver" || colour == "black" ? ui::Color::black() : ui::Color::white());

    if (rowHas(r, "colorIntro")) {
        auto strip = ui::ImageView::make();
        strip->setImage(ui::Image::imageNamed(stripImageName(rowString(r, "colorIntro"))));
        cell->setBackgroundView(strip);
    } else if (rowHas(r, "color")) {
        auto strip = ui::ImageView::make();
        strip->setImage(ui::Image::imageNamed(colour == "black" ? std::string("menu-silver.png") : stripImageName(colour)));
        cell->setBackgroundView(strip);
    }

    auto title = rowTitle(r);
    cell->textLabel()->setText(title ? std::string(title->lowercaseString()->utf8()) : std::string());
    cell->textLabel()->setBackgroundColor(ui::Color::clear());

    if (rowHas(r, "SubTitle")) {
        cell->detailTextLabel()->setText(rowString(r, "SubTitle"));
        cell->textLabel()->setFont(ui::Font::fontWithNameSize("Helvetica", 21));
        cell->textLabel()->setTextColor(ui::Color::white());
        cell->detailTextLabel()->setFont(ui::Font::fontWithNameSize("Helvetica", 13));
        cell->detailTextLabel()->setTextColor(ui::Color::black());
    } else {
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
        cell->detailTextLabel()->setText("");
    }

    if (isDamagedGroup(r)) cell->detailTextLabel()->setText(kDamagedGroupDetail);
    if (rowHas(r, "lleva") || isDamagedGroup(r)) {
        cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    } else {
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Gray);
    }
    return cell;
}

void ViewTableList::openOverlay(bool referral) {
    ui::ViewController* hub = controller();
    ui::Rect size = hub ? hub->view()->frame() : ui::Screen::main()->bounds();
    ui::Window* w = ui::Application::shared()->keyWindow();
    ui::ViewController* root = w ? w->rootViewController() : nullptr;
    if (!root) return;
    FormOverlay::showOver(root->view(), 60, size.size, referral);
}

void ViewTableList::tableViewDidSelectRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    ns::Ref<ns::Dictionary> r(rowAtIndex(ip.row));
    if (!r) return;
    ns::Ref<ns::Array> shown = arayObjetosTableView_;
    ns::Ref<ns::Array> children(rowChildren(r.get()));

    if (rowHas(r.get(), "tactics")) {
        SetRootTable(shown);
        PushOnTable(children);
        return;
    }
    if (rowHas(r.get(), "lleva") || isDamagedGroup(r.get())) return;
    std::string action = rowString(r.get(), "Action");
    if (action == "referral:" || action == "singUp:") {
        openOverlay(action == "referral:");
        return;
    }
    if (rowHas(r.get(), "email")) {
        if (auto* mail = r->dictionaryForKey("email")) postTablet(kEnviarMail, ns::Ref<ns::Dictionary>(mail));
        return;
    }
    if (rowHas(r.get(), "ActionPractice")) {
        std::string practice = rowString(r.get(), "ActionPractice");
        if (practice == "CrearGrupo") {
            postTablet(kMostrarAgregarGrupo);
        } else if (practice == "GroupCard") {
            SetRootTable(shown);
            CargarListaGrupos();
        } else if (practice == "Questions") {
            // The list is pushed first, so that the list it leaves keeps
            // the card pane's title and mode for Back.
            SetRootTable(shown);
            PushOnTable(children);
            postTablet(kModificarModo, ns::num(static_cast<int>(kModoNavegacion)));
            postTablet(kActualizaTitulo, ns::String::make(rowString(r.get(), "Title")));
            if (children && children->count()) postTablet(kActualizaContenidoCarta, children->at(0));
        } else {
            postTablet(kEntrarModoRandom);
        }
        return;
    }
    if (children) {
        PushOnTable(children);
        postTablet(kActualizaTitulo, ns::String::make(rowString(r.get(), "Title")));
        if (children->count()) postTablet(kActualizaContenidoCarta, children->at(0));
        return;
    }
    postTablet(kActualizaContenidoCarta, r);
}

bool ViewTableList::deleteGroup(const ns::Object& entry) {
    AppDelegate* d = AppDelegate::shared();
    ns::MutableArray* groups = d ? d->allGroups() : nullptr;
    size_t index = groups ? groups->indexOfObjectIdenticalTo(&entry) : ns::NotFound;
    if (groups && index == ns::NotFound) index = groups->indexOfObject(entry);
    if (index == ns::NotFound) {
        auto* r = ns::as<ns::Dictionary>(&entry);
        appLog("Group \"" + rowString(r, "Title") + "\" is not among the saved groups; nothing deleted");
        return false;
    }
    ns::Ref<ns::Error> error;
    if (!d->removeGroupAtIndex(index, &error)) {
        appLog("Deleting group failed: " + (error ? error->description() : std::string("unknown error")));
        ui::AlertView::make("Error", "The group could not be deleted.", nullptr, "OK")->show();
        return false;
    }
    return true;
}

void ViewTableList::tableViewCommitEditingStyle(ui::TableView*, ui::TableViewCellEditingStyle style, ui::IndexPath ip) {
    if (style != ui::TableViewCellEditingStyle::Delete) return;
    ns::Ref<ns::Object> entry(entryAtIndex(ip.row));
    if (!entry) return;
    ns::Ref<ns::Array> oldList = arayObjetosTableView_;
    auto newList = oldList->mutableCopy();
    newList->removeObjectAtIndex(static_cast<size_t>(ip.row));

    if (isGroupRow(ip.row)) {
        // A group (damaged or not): delete the group record this row shows,
        // not whatever sits at the row's position.
        if (!deleteGroup(*entry)) {
            reload();
            return;
        }
        if (StackObjetosTableView_->count() && StackObjetosTableView_->lastObject() == oldList.get())
            StackObjetosTableView_->replaceObjectAtIndex(StackObjetosTableView_->count() - 1, newList);
        if (groupsList_ == oldList) groupsList_ = newList;
        setArayObjetosTableView(newList);
    } else if (ns::as<ns::Dictionary>(entry.get()) || isDamagedFavorite(ip.row)) {
        setArayObjetosTableView(newList);
        pendingDeleted_ = entry;
        postTablet(kBorrarFavorito, ns::num(static_cast<int>(ip.row)));
        pendingDeleted_ = nullptr;
    }
    reload();
}

}  // namespace app
