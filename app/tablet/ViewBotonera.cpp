#include "app/tablet/ViewBotonera.h"

#include "analytics/Analytics.h"
#include "app/AppConfig.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/tablet/TabletNotifications.h"
#include "platform/foundation/Foundation.h"

namespace app {

ns::Ref<ViewBotonera> ViewBotonera::make(ui::Rect frame) {
    auto bar = ns::make<ViewBotonera>(frame);
    buildViewBotoneraInterface(*bar);
    return bar;
}

void buildViewBotoneraInterface(ViewBotonera& bar) {
    auto decks = bundleArray(kDeckFile);
    double width = bar.bounds().size.width / ViewBotonera::kButtonCount;
    for (size_t i = 0; i < ViewBotonera::kButtonCount; ++i) {
        auto title = rowTitle(rowAt(decks.get(), i));
        auto b = ui::Button::make(ui::makeRect(width * static_cast<double>(i) + 4, 4, width - 8, bar.bounds().size.height - 8),
                                  title ? std::string(title->utf8()) : "Deck " + std::to_string(i + 1));
        b->setTag(static_cast<long>(i));
        b->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleLeftMargin |
                               ui::AutoresizingFlexibleRightMargin);
        b->addTarget(&bar, &ViewBotonera::ClicBtn, ui::ControlEventTouchUpInside);
        bar.addSubview(b);
        bar.setButton(i, b);
    }
}

void ViewBotonera::ClicBtn(ns::Object* sender) {
    auto* v = ns::as<ui::View>(sender);
    long t = v ? v->tag() : 0;
    auto decks = bundleArray(kDeckFile);
    ns::Dictionary* deck = t >= 0 ? rowAt(decks.get(), static_cast<size_t>(t)) : nullptr;
    if (!deck) {
        appLog("Deck button " + std::to_string(t) + " has no deck in " + kDeckFile);
        return;
    }
    ns::Ref<ns::Array> children(rowChildren(deck));
    if (!children) children = ns::Array::make();
    postTablet(kActualizarVistaBotones, ns::Array::make({children, ns::num(0)}));
    postTablet(kActualizaTitulo, ns::String::make(rowString(deck, "Title")));
    postTablet(kModificarModo, ns::num(static_cast<int>(kModoNavegacion)));
    analytics::Analytics::logEventWithParameters(
        "MenuButtonClick", ns::Dictionary::make({{"ButtonIndex", ns::Number::numberWithLong(t)}}).get());
}

}  // namespace app
