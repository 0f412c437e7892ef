#include "app/GroupCardList.h"

#include "app/ContentModel.h"
#include "platform/ui/AlertView.h"

namespace app {

ns::Ref<ui::Color> cardTitleColour(std::string_view colour) {
    if (colour == "wine") return ui::Color::colorWithRGBA(0.58, 0.15, 0.56, 1);
    if (colour == "blue") return ui::Color::colorWithRGBA(0, 0.31, 0.75, 1);
    if (colour == "yellow") return ui::Color::colorWithRGBA(1.0, 0.57, 0, 1);
    if (colour == "purple") return ui::Color::colorWithRGBA(0.34, 0.16, 0.5, 1);
    if (colour == "green") return ui::Color::colorWithRGBA(0, 0.49, 0.28, 1);
    if (colour == "cyan") return ui::Color::colorWithRGBA(0, 0.7, 0.86, 1);
    return ui::Color::black();
}

namespace {
ui::TableViewCellAccessoryType tick(bool chosen) {
    return chosen ? ui::TableViewCellAccessoryType::Checkmark : ui::TableViewCellAccessoryType::None;
}
}  // namespace

ns::Ref<ui::TableViewCell> groupCardCell(ui::TableView* t, const ns::Dictionary* card, const ns::Array* chosen) {
    auto cell = t->dequeueReusableCellWithIdentifier("Cell");
    if (!cell) {
        cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, "Cell");
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
    }
    cell->setAccessoryType(tick(card && chosen && chosen->indexOfObjectIdenticalTo(card) != ns::NotFound));
    cell->textLabel()->setText(rowString(card, "title"));
    cell->textLabel()->setTextColor(cardTitleColour(rowString(card, "color")));
    return cell;
}

void toggleGroupCard(ui::TableView* t, ui::IndexPath ip, ns::Object* card, ns::MutableArray& chosen) {
    size_t at = chosen.indexOfObjectIdenticalTo(card);
    bool ticked = at == ns::NotFound;
    if (ticked) chosen.addObject(ns::Ref<ns::Object>(card));
    else chosen.removeObjectAtIndex(at);
    if (ui::TableViewCell* cell = t->cellForRowAtIndexPath(ip)) cell->setAccessoryType(tick(ticked));
}

bool groupReadyToSave(const std::string& name, const ns::Array* chosen) {
    if (name.empty()) {
        ui::AlertView::make("Group Name", "Please choose a name for this group.", nullptr, "OK")->show();
        return false;
    }
    if (!chosen || chosen->count() == 0) {
        ui::AlertView::make("Choose Cards", "Please choose the cards to include in this group.", nullptr, "OK")->show();
        return false;
    }
    return true;
}

}  // namespace app
