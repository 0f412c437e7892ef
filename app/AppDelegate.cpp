#include "app/AppDelegate.h"

#include <cerrno>
#include <functional>

#include "analytics/Analytics.h"
#include "app/AppConfig.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/SplashViewControllers.h"
#include "net/http/HTTPRequest.h"
#include "platform/foundation/FileIO.h"
#include "platform/ui/Color.h"
#include "sharing/core/SHR.h"

namespace app {

AppDelegate* AppDelegate::shared() {
    return dynamic_cast<AppDelegate*>(ui::Application::shared()->delegateObject());
}

bool AppDelegate::applicationDidFinishLaunchingWithOptions(ui::Application*, ns::Dictionary*) {
    // A logout a killed process left half done is finished before anything
    // reads a login: every login is all there or all gone.
    sharing::SHR::finishInterruptedLogout();
    analytics::Analytics::startSession(kAnalyticsAPIKey);
    ArrayDeck_ = bundleArray(kDeckFile);
    allCards_ = bundleArray(kAllCardsFile);
    Interview_ = bundleArray(kInterviewFile);
    ShareDic_ = bundleDictionary(kShareFile);
    infor_ = bundleDictionary(kInfoFile);

    ratePromptManager_ = ns::make<RatePromptManager>();
    ratePromptManager_->checkForRatePrompt();

    auto favorites = loadDocumentsArray(kFavoritesFile);
    allFavorites_ = favorites.rows;
    favoritesAside_ = favorites.movedAsideTo;
    favoritesBlocked_ = favorites.blocked;
    CargaListaGrupos();

    window_ = ns::make<EventWindow>(ui::Screen::main()->bounds());
    ns::Ref<ui::ViewController> splash;
    if (ui::Device::current()->userInterfaceIdiom() != ui::UserInterfaceIdiom::Phone)
        splash = ns::make<SplashViewController_iPad>();
    else
        splash = ns::make<SplashViewController_iPhone>();
    window_->setRootViewController(splash);
    window_->setBackgroundColor(ui::Color::black());
    window_->makeKeyAndVisible();
    return true;
}

void AppDelegate::applicationWillTerminate(ui::Application*) {
    if (auto* offline = sharing::SHR::currentHelper()->offlineQueue()) offline->cancelAllOperations();
    http::HTTPRequest::stopNetworkThread();
}

void AppDelegate::CargaListaGrupos() {
    auto groups = loadDocumentsArray(kGroupsFile);
    allGroups_ = groups.rows;
    groupsAside_ = groups.movedAsideTo;
    groupsBlocked_ = groups.blocked;
}

bool AppDelegate::save(const ns::Array* rows, const char* file, bool blocked, ns::Ref<ns::Error>* error) {
    if (blocked) {
        auto e = ns::Error::withDescription(ns::kFileErrorDomain, EACCES,
                                            std::string("The unreadable file ") + file +
                                                " is kept; nothing was written over it");
        appLog(std::string("Saving ") + file + " refused: the unreadable file there is kept");
        if (error) *error = e;
        return false;
    }
    auto empty = ns::Array::make();
    return writeDocumentsArray(rows ? *rows : *empty, file, error);
}

bool AppDelegate::EscribeEnListaGrupos(ns::Ref<ns::Error>* error) {
    return save(allGroups_.get(), kGroupsFile, groupsBlocked_, error);
}

bool AppDelegate::writeGroupsToFile(ns::Ref<ns::Error>* error) {
    return save(allFavorites_.get(), kFavoritesFile, favoritesBlocked_, error);
}

bool AppDelegate::ExistingCard(const ns::String* title) const {
    if (!title) return true;
    if (!allFavorites_) return false;
    for (ns::Object* o : *allFavorites_) {
        auto* row = dynamic_cast<ns::Dictionary*>(o);
        if (!row) continue;
        ns::Object* t = row->objectForKey("title");
        if (!t) t = row->objectForKey("Title");
        if (!t) continue;
        if (title->isEqual(*t)) return true;
    }
    return false;
}

namespace {
// A row added to or removed from a saved list stays so only when the list's
// file is written; else the list is put back as it was.
bool appendAndSave(ns::Ref<ns::MutableArray>& rows, ns::Ref<ns::Dictionary> row, const std::function<bool()>& save) {
    if (!row) return false;
    if (!rows) rows = ns::MutableArray::make();
    rows->addObject(row);
    if (save()) return true;
    rows->removeLastObject();
    return false;
}

bool removeAndSave(ns::Ref<ns::MutableArray>& rows, size_t index, const std::function<bool()>& save) {
    if (!rows || index >= rows->count()) return false;
    auto removed = rows->at(index);
    rows->removeObjectAtIndex(index);
    if (save()) return true;
    rows->insertObjectAtIndex(removed, index);
    return false;
}
}  // namespace

bool AppDelegate::addFavorite(ns::Ref<ns::Dictionary> card, ns::Ref<ns::Error>* error) {
    return appendAndSave(allFavorites_, std::move(card), [&] { return writeGroupsToFile(error); });
}

bool AppDelegate::removeFavoriteAtIndex(size_t index, ns::Ref<ns::Error>* error) {
    return removeAndSave(allFavorites_, index, [&] { return writeGroupsToFile(error); });
}

bool AppDelegate::addGroup(ns::Ref<ns::Dictionary> group, ns::Ref<ns::Error>* error) {
    return appendAndSave(allGroups_, std::move(group), [&] { return EscribeEnListaGrupos(error); });
}

bool AppDelegate::removeGroupAtIndex(size_t index, ns::Ref<ns::Error>* error) {
    return removeAndSave(allGroups_, index, [&] { return EscribeEnListaGrupos(error); });
}

}  // namespace app
