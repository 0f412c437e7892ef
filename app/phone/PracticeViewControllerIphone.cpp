#include "app/phone/PracticeViewControllerIphone.h"

#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/phone/CardViewController.h"
#include "app/phone/MenuViewController.h"
#include "app/phone/ViewGroupsController.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace app {

ns::Ref<ns::Array> PracticeViewControllerIphone::practiceQuestions() {
    auto practice = bundleDictionary("Practice.plist");
    ns::Array* entries = rowChildren(practice.get());
    ns::Dictionary* questionsRow = rowAt(entries, 2);
    ns::Array* questions = rowChildren(questionsRow);
    if (!questions) {
        appLog("Practice: no questions in Practice.plist (Children -> entry 2 -> Children)");
        return ns::Array::make();
    }
    return ns::Ref<ns::Array>(questions);
}

// The interface: the title along the top and the three buttons.
void PracticeViewControllerIphone::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setBackgroundColor(ui::Color::black());
    titleLabel_ = ui::Label::make(ui::makeRect(20, 10, b.width() - 40, 40));
    titleLabel_->setText("Practice");
    titleLabel_->setTextAlignment(ui::TextAlignment::Center);
    root->addSubview(titleLabel_);
    double w = b.width() - 40;
    btnQA_ = ui::Button::make(ui::makeRect(20, 80, w, 60), "Questions");
    btnQA_->addTarget(this, &PracticeViewControllerIphone::clicbtnQA, ui::ControlEventTouchUpInside);
    root->addSubview(btnQA_);
    btnRandomCards_ = ui::Button::make(ui::makeRect(20, 160, w, 60), "Random cards");
    btnRandomCards_->addTarget(this, &PracticeViewControllerIphone::clicbtnRandomCards, ui::ControlEventTouchUpInside);
    root->addSubview(btnRandomCards_);
    btnGroupCards_ = ui::Button::make(ui::makeRect(20, 240, w, 60), "Groups");
    btnGroupCards_->addTarget(this, &PracticeViewControllerIphone::clicbtnGroupCards, ui::ControlEventTouchUpInside);
    root->addSubview(btnGroupCards_);
    setView(root);
}

void PracticeViewControllerIphone::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
}

void PracticeViewControllerIphone::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    // The view may load before the screen is put in its navigation stack.
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
}

void PracticeViewControllerIphone::clicbtnQA(ns::Object*) {
    auto* nav = navigationController();
    if (!nav) return;
    auto menu = ns::make<MenuViewController>();
    menu->setArrayTable(practiceQuestions());
    nav->pushViewController(menu, true);
    menu->view();
    menu->titleLabel()->setText("Questions");
    menu->imgback()->setHidden(false);
    menu->imgLogo()->setHidden(true);
    menu->btnBack()->setHidden(false);
    menu->btnBack()->setTitle("Practice");
}

void PracticeViewControllerIphone::clicbtnRandomCards(ns::Object*) {
    auto* nav = navigationController();
    if (!nav) return;
    auto card = ns::make<CardViewController>();
    card->setIsRandomCard(true);
    nav->pushViewController(card, true);
    card->view();
    card->btnBack()->setTitle("practice");
}

void PracticeViewControllerIphone::clicbtnGroupCards(ns::Object*) {
    if (auto* nav = navigationController()) nav->pushViewController(ns::make<ViewGroupsController>(), true);
}

}  // namespace app
