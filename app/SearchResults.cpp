#include "app/SearchResults.h"

#include "app/ContentModel.h"
#include "platform/ui/Image.h"

namespace app {

ns::Ref<ns::Array> cardsWithText(const ns::Array* cards, const std::string& phrase) {
    auto out = ns::MutableArray::make();
    if (!cards || phrase.empty()) return out;
    for (size_t i = 0; i < cards->count(); ++i) {
        ns::Dictionary* card = rowAt(cards, i);
        auto* text = card ? card->stringForKey("text") : nullptr;
        if (text && text->containsString(phrase, ns::CaseInsensitiveSearch)) out->addObject(ns::Ref<ns::Object>(card));
    }
    return out;
}

std::string searchResultColour(const ns::Dictionary* card) {
    std::string colour = rowString(card, "color");
    return colour.empty() ? std::string("silver") : colour;
}

ns::Ref<ui::TableViewCell> searchResultCell(ui::TableView* t, const ns::Dictionary* card) {
    auto cell = t->dequeueReusableCellWithIdentifier("SearchCell");
    if (!cell) {
        cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, "SearchCell");
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Gray);
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
    }
    std::string colour = searchResultColour(card);
    cell->textLabel()->setTextColor(colour == "silver" ? ui::Color::black() : ui::Color::white());
    cell->setBackgroundView(ui::ImageView::withImage(ui::Image::imageNamed(stripImageName(colour))));
    cell->textLabel()->setText(rowString(card, "title"));
    cell->textLabel()->setBackgroundColor(ui::Color::clear());
    return cell;
}

}  // namespace app
