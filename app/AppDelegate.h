// The application delegate: loads the bundle's content and the user's
// Documents files once at launch and keeps them for the life of the
// process; creates the window with the splash screen of the device idiom.
//
// Saving favourites and groups reports failure (false plus a log line) and
// never overwrites a Documents file that could not be read at launch (it is
// moved aside then). The add/remove helpers keep memory and file in
// agreement: a change whose save fails is undone.
#pragma once

#include <string>

#include "app/EventWindow.h"
#include "app/RatePromptManager.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/ui/Application.h"

namespace app {

class AppDelegate : public ui::Responder, public ui::ApplicationDelegate {
public:
    const char* className() const override { return "AppDelegate"; }

    // The delegate of the running application, or nil.
    static AppDelegate* shared();

    bool applicationDidFinishLaunchingWithOptions(ui::Application* app, ns::Dictionary* options) override;
    void applicationWillResignActive(ui::Application*) override {}
    void applicationDidEnterBackground(ui::Application*) override {}
    void applicationWillEnterForeground(ui::Application*) override {}
    void applicationDidBecomeActive(ui::Application*) override {}
    // Ends what the app runs in the background before anything is freed:
    // shares waiting in the sharing centre's offline queue are cancelled
    // (their entries stay for the next start), and every request on the
    // network thread (form posts, sharers' requests, with their time limits)
    // is cancelled quietly and the thread stopped and joined.
    void applicationWillTerminate(ui::Application*) override;

    // -- Content (nil when the bundle file is missing or unusable) --------------
    EventWindow* window() const { return window_.get(); }
    void setWindow(ns::Ref<EventWindow> w) { window_ = std::move(w); }
    ns::Array* ArrayDeck() const { return ArrayDeck_.get(); }
    void setArrayDeck(ns::Ref<ns::Array> a) { ArrayDeck_ = std::move(a); }
    ns::Array* allCards() const { return allCards_.get(); }
    void setAllCards(ns::Ref<ns::Array> a) { allCards_ = std::move(a); }
    ns::Array* Interview() const { return Interview_.get(); }
    void setInterview(ns::Ref<ns::Array> a) { Interview_ = std::move(a); }
    ns::Dictionary* ShareDic() const { return ShareDic_.get(); }
    void setShareDic(ns::Ref<ns::Dictionary> d) { ShareDic_ = std::move(d); }
    ns::Dictionary* infor() const { return infor_.get(); }
    void setInfor(ns::Ref<ns::Dictionary> d) { infor_ = std::move(d); }

    // -- Favourites and groups (never nil after launch) --------------------------
    ns::MutableArray* allFavorites() const { return allFavorites_.get(); }
    void setAllFavorites(ns::Ref<ns::MutableArray> a) { allFavorites_ = std::move(a); }
    ns::MutableArray* allGroups() const { return allGroups_.get(); }
    void setAllGroups(ns::Ref<ns::MutableArray> a) { allGroups_ = std::move(a); }

    // Loads allGroups from Documents "Grupos-VeltraIpad.plist"; empty when
    // the file is missing or unreadable (an unreadable file is moved aside).
    void CargaListaGrupos();
    // Writes allGroups / allFavorites whole and atomically. False (with
    // *error) when the file could not be written.
    bool EscribeEnListaGrupos(ns::Ref<ns::Error>* error = nullptr);
    bool writeGroupsToFile(ns::Ref<ns::Error>* error = nullptr);
    // Whether a favourite has this title ("title", else "Title"); a nil
    // title counts as existing.
    bool ExistingCard(const ns::String* title) const;

    // Change-and-save helpers: each undoes its change when the save fails.
    bool addFavorite(ns::Ref<ns::Dictionary> card, ns::Ref<ns::Error>* error = nullptr);
    bool removeFavoriteAtIndex(size_t index, ns::Ref<ns::Error>* error = nullptr);
    bool addGroup(ns::Ref<ns::Dictionary> group, ns::Ref<ns::Error>* error = nullptr);
    bool removeGroupAtIndex(size_t index, ns::Ref<ns::Error>* error = nullptr);

    RatePromptManager* ratePromptManager() const { return ratePromptManager_.get(); }

    // Where unreadable Documents files were moved at launch ("" if not).
    const std::string& favoritesMovedAsideTo() const { return favoritesAside_; }
    const std::string& groupsMovedAsideTo() const { return groupsAside_; }

private:
    bool save(const ns::Array* rows, const char* file, bool blocked, ns::Ref<ns::Error>* error);

    ns::Ref<EventWindow> window_;
    ns::Ref<ns::Array> ArrayDeck_, allCards_, Interview_;
    ns::Ref<ns::Dictionary> ShareDic_, infor_;
    ns::Ref<ns::MutableArray> allFavorites_, allGroups_;
    ns::Ref<RatePromptManager> ratePromptManager_;
    std::string favoritesAside_, groupsAside_;
    bool favoritesBlocked_ = false, groupsBlocked_ = false;
};

}  // namespace app
