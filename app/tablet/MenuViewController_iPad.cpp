#include "app/tablet/MenuViewController_iPad.h"

#include "app/AppDelegate.h"
#include "app/ContentModel.h"

namespace app {

void MenuViewController_iPad::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    lblTitulo_ = ui::Label::make(ui::makeRect(20, 20, b.size.width - 40, 40));
    root->addSubview(lblTitulo_);
    setView(root);
}

void MenuViewController_iPad::viewDidLoad() {
    AppDelegate* d = AppDelegate::shared();
    auto deckTitle = rowTitle(rowAt(d ? d->ArrayDeck() : nullptr, static_cast<size_t>(indexButtonInicio_)));
    setTitle(deckTitle ? deckTitle->utf8() : std::string());
    lblTitulo_->setText(title());
}

}  // namespace app
