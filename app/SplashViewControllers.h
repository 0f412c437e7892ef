// The two splash screens. Each fades its artwork in, one image after the
// other (1.0 s each, on the main run loop's clock), then installs the real
// interface: the phone's five-tab bar or the tablet's home screen, with the
// sign-up overlay on top while the "registro" flag is unset.
//
// Phone: all four images start transparent; four fades (4 s).
// Tablet: the background is visible at once; three fades (3 s).
#pragma once

#include "platform/foundation/Array.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace app {

class SplashViewController : public ui::ViewController, public ui::AnimationDelegate {
public:
    void loadView() override;
    void viewDidLoad() override;

    // Fades `view` in over 1.0 s; animationDidStop follows.
    void animaImagen(ui::View* view);
    void animationDidStop(const std::string& animationID, bool finished, ns::Object* context) override;
    // Installs the interface of the idiom (the splash is released with it).
    virtual void crearTabBar() = 0;

    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return 2; }  // portrait only

    ui::ImageView* imgFondo() const { return imgFondo_.get(); }
    ui::ImageView* imgElemento1() const { return imgElemento1_.get(); }
    ui::ImageView* imgElemento2() const { return imgElemento2_.get(); }
    ui::ImageView* element3() const { return element3_.get(); }
    ns::MutableArray* arrayImagenes() const { return arrayImagenes_.get(); }
    int index() const { return index_; }

protected:
    // Phone: all four start at 0 and the fades start at index 0; tablet: the
    // background shows at once and the fades start at index 1.
    virtual bool backgroundVisibleAtStart() const = 0;
    // Shows the sign-up overlay over the new root when "registro" is unset.
    void showSignUpIfNeeded(ui::Rect frame, bool flexible);

private:
    ns::Ref<ui::ImageView> imgFondo_, imgElemento1_, imgElemento2_, element3_;
    ns::Ref<ns::MutableArray> arrayImagenes_;
    int index_ = 0;
};

class SplashViewController_iPhone : public SplashViewController {
public:
    const char* className() const override { return "SplashViewController_iPhone"; }
    void crearTabBar() override;

protected:
    bool backgroundVisibleAtStart() const override { return false; }
};

class SplashViewController_iPad : public SplashViewController {
public:
    const char* className() const override { return "SplashViewController_iPad"; }
    void crearTabBar() override;

protected:
    bool backgroundVisibleAtStart() const override { return true; }
};

}  // namespace app
