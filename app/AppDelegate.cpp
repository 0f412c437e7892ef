#include "app/AppDelegate.h"

#include <cerrno>

#include "analytics/Analytics.h"
#include "app/AppConfig.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/SplashViewControllers.h"
#include "platform/foundation/FileIO.h"
#include "platform/ui/Color.h"

namespace app {

AppDelegate* AppDelegate::shared() {
    return dynamic_cast<AppDelegate*>(ui::Application::shared()->delegateObject());
}

bool AppDelegate::applicationDidFinishLaunchingWithOptions(ui::Application*, ns::Dictionary*) {
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

bool AppDelegate::addFavorite(ns::Ref<ns::Dictionary> card, ns::Ref<ns::Error>* error) {
    if (!card) return false;
    if (!allFavorites_) allFavorites_ = ns::MutableArray::make();
    allFavorites_->addObject(card);
    if (writeGroupsToFile(error)) return true;
    allFavorites_->removeLastObject();
    return false;
}

bool AppDelegate::removeFavoriteAtIndex(size_t index, ns::Ref<ns::Error>* error) {
    if (!allFavorites_ || index >= allFavorites_->count()) return false;
    auto removed = allFavorites_->at(index);
    allFavorites_->removeObjectAtIndex(index);
    if (writeGroupsToFile(error)) return true;
    allFavorites_->insertObjectAtIndex(removed, index);
    return false;
}

bool AppDelegate::addGroup(ns::Ref<ns::Dictionary> group, ns::Ref<ns::Error>* error) {
    if (!group) return false;
    if (!allGroups_) allGroups_ = ns::MutableArray::make();
    allGroups_->addObject(group);
    if (EscribeEnListaGrupos(error)) return true;
    allGroups_->removeLastObject();
    return false;
}

bool AppDelegate::removeGroupAtIndex(size_t index, ns::Ref<ns::Error>* error) {
    if (!allGroups_ || index >= allGroups_->count()) return false;
    auto removed = allGroups_->at(index);
    allGroups_->removeObjectAtIndex(index);
    if (EscribeEnListaGrupos(error)) return true;
    allGroups_->insertObjectAtIndex(removed, index);
    return false;
}

}  // namespace app
