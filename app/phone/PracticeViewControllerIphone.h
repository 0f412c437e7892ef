// The phone's Practice tab: three buttons that open the practice questions
// (a menu of the questions in the bundle's "Practice.plist"), random-card
// practice, and the saved groups.
#pragma once

#include "app/phone/RandomSource.h"
#include "platform/foundation/Array.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace app {

class PracticeViewControllerIphone : public ui::ViewController {
public:
    const char* className() const override { return "PracticeViewControllerIphone"; }

    // The practice questions: "Practice.plist" -> "Children" -> entry 2 ->
    // "Children". An empty list (never nil) when the file or any step of the
    // way is missing or of the wrong kind.
    static ns::Ref<ns::Array> practiceQuestions();

    void clicbtnQA(ns::Object* sender);
    void clicbtnRandomCards(ns::Object* sender);
    void clicbtnGroupCards(ns::Object* sender);

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskPortrait; }

private:
    ns::Ref<ui::Label> titleLabel_;
    ns::Ref<ui::Button> btnQA_, btnRandomCards_, btnGroupCards_;
};

}  // namespace app
