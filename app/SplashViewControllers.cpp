#include "app/SplashViewControllers.h"

#include "analytics/Analytics.h"
#include "app/AppConfig.h"
#include "app/AppDelegate.h"
#include "app/UINavigationController_iPad.h"
#include "app/forms/UIViewSingUp.h"
#include "app/phone/MenuViewController.h"
#include "app/phone/MoreViewController_iPhone.h"
#include "app/phone/PracticeViewControllerIphone.h"
#include "app/phone/SearchViewControllerIphone.h"
#include "app/phone/UITabBarController_iPhone.h"
#include "app/tablet/HomeViewController.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"

namespace app {

// The interface file: a full-screen background and three artwork images.
void SplashViewController::loadView() {
    ui::Rect bounds = ui::Screen::main()->bounds();
    auto root = ui::View::make(bounds);
    root->setBackgroundColor(ui::Color::black());
    auto image = [&](const char* name, ui::Rect frame) {
        auto v = ui::ImageView::make(frame);
        v->setImage(ui::Image::imageNamed(name));
        v->setAccessibilityLabel(name);
        root->addSubview(v);
        return v;
    };
    double w = bounds.size.width, h = bounds.size.height;
    imgFondo_ = image("splash-fondo.png", bounds);
    imgElemento1_ = image("splash-1.png", ui::makeRect(w * 0.1, h * 0.15, w * 0.8, h * 0.2));
    imgElemento2_ = image("splash-2.png", ui::makeRect(w * 0.1, h * 0.4, w * 0.8, h * 0.2));
    element3_ = image("splash-3.png", ui::makeRect(w * 0.1, h * 0.65, w * 0.8, h * 0.2));
    auto caption = ui::Label::make(ui::makeRect(0, h - 60, w, 30));
    caption->setText("Korvel interview cards");
    caption->setTextAlignment(ui::TextAlignment::Center);
    root->addSubview(caption);
    setView(root);
}

void SplashViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    bool tablet = backgroundVisibleAtStart();
    imgFondo_->setAlpha(tablet ? 1.0 : 0.0);
    imgElemento1_->setAlpha(0);
    imgElemento2_->setAlpha(0);
    element3_->setAlpha(0);
    arrayImagenes_ = ns::MutableArray::make();
    arrayImagenes_->addObject(imgFondo_);
    arrayImagenes_->addObject(imgElemento1_);
    arrayImagenes_->addObject(imgElemento2_);
    arrayImagenes_->addObject(element3_);
    index_ = tablet ? 1 : 0;
    animaImagen(arrayImagenes_->objectAtIndexAs<ui::View>(index_));
}

void SplashViewController::animaImagen(ui::View* view) {
    ui::View::beginAnimations("fade");
    ui::View::setAnimationDuration(1.0);
    ui::View::setAnimationDelegate(this);
    view->setAlpha(1.0);
    ui::View::commitAnimations();
}

void SplashViewController::animationDidStop(const std::string&, bool, ns::Object*) {
    auto keep = ns::keepAlive(this);  // crearTabBar releases the splash
    // A splash that is no longer on screen (its window was replaced) must not
    // install an interface in someone else's window.
    ui::Window* mine = isViewLoaded() ? view()->window() : nullptr;
    AppDelegate* delegate = AppDelegate::shared();
    if (!mine || (delegate && static_cast<ui::Window*>(delegate->window()) != mine)) return;
    index_ += 1;
    if (static_cast<size_t>(index_) != arrayImagenes_->count())
        animaImagen(arrayImagenes_->objectAtIndexAs<ui::View>(index_));
    else
        crearTabBar();
}

void SplashViewController::showSignUpIfNeeded(ui::Rect frame, bool flexible) {
    if (ns::UserDefaults::standardUserDefaults()->objectForKey(kRegistroKey)) return;
    AppDelegate* delegate = AppDelegate::shared();
    ui::Window* window = delegate ? delegate->window() : view()->window();
    if (!window || !window->rootViewController()) return;
    ui::View* rootView = window->rootViewController()->view();
    auto overlay = ns::make<UIViewSingUp>(frame);
    rootView->addSubview(overlay);
    if (flexible) {
        overlay->setAutoresizesSubviews(true);
        overlay->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    }
    overlay->dibujarElementos();
}

void SplashViewController_iPhone::crearTabBar() {
    AppDelegate* delegate = AppDelegate::shared();
    auto wrap = [](ns::Ref<ui::ViewController> vc, const char* title, const char* image) {
        vc->setTitle(title);
        vc->tabBarItem()->setTitle(title);
        vc->tabBarItem()->setImage(ui::Image::imageNamed(image));
        auto nav = UINavigationController_iPad::withRoot(vc);
        nav->tabBarItem()->setTitle(title);
        nav->tabBarItem()->setImage(ui::Image::imageNamed(image));
        return ns::Ref<ui::ViewController>(nav);
    };
    auto deck = ns::make<MenuViewController>();
    deck->setArrayTable(delegate ? ns::Ref<ns::Array>(delegate->ArrayDeck()) : nullptr);
    deck->setNombreTi("Deck index");
    auto tactics = ns::make<MenuViewController>();
    tactics->setArrayTable(delegate ? ns::Ref<ns::Array>(delegate->Interview()) : nullptr);
    tactics->setNombreTi("Tactics");

    std::vector<ns::Ref<ui::ViewController>> tabs;
    tabs.push_back(wrap(deck, "Deck index", "tab1.png"));
    tabs.push_back(wrap(tactics, "Tactics", "tab3.png"));
    tabs.push_back(wrap(ns::make<PracticeViewControllerIphone>(), "Practice", "tab2.png"));
    tabs.push_back(wrap(ns::make<SearchViewControllerIphone>(), "Search", "tab4.png"));
    tabs.push_back(wrap(ns::make<MoreViewController_iPhone>(), "More", "tab5.png"));

    ui::TabBar::setAppearanceTintColor(ui::Color::lightGray());
    auto tabBar = ns::make<UITabBarController_iPhone>();
    tabBar->setViewControllers(tabs);
    analytics::Analytics::logAllPageViews(tabBar.get());

    ui::Window* window = delegate ? delegate->window() : view()->window();
    if (!window) return;
    window->setRootViewController(tabBar);
    ui::Rect b = tabBar->view()->bounds();
    showSignUpIfNeeded(ui::makeRect(0, 60, b.size.width, b.size.height), false);
}

void SplashViewController_iPad::crearTabBar() {
    AppDelegate* delegate = AppDelegate::shared();
    ui::Window* window = delegate ? delegate->window() : view()->window();
    if (!window) return;
    auto nav = UINavigationController_iPad::withRoot(ns::make<HomeViewController>());
    window->setRootViewController(nav);
    ui::Rect b = nav->view()->bounds();
    showSignUpIfNeeded(ui::makeRect(0, 0, b.size.width, b.size.height), true);
}

}  // namespace app
