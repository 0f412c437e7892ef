#include "sharing/ui/SHRFormOptionController.h"

#include <algorithm>

#include "platform/ui/BarItems.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"

namespace sharing {

namespace {
std::string joinIndexes(const std::vector<long>& v) {
    std::string out;
    for (long i : v) out += (out.empty() ? "" : ",") + std::to_string(i);
    return out.empty() ? "-1" : out;
}
}  // namespace

SHRFormOptionController::SHRFormOptionController(ns::Ref<SHRFormFieldSettings> settings,
                                                 SHRFormOptionControllerClient* client)
    : settings_(std::move(settings)) {
    client_ = client;
    if (!settings_->optionPickerInfo())
        throw ns::Exception(ns::kInvalidArgumentException, "an option list needs option-picker information");
    if (auto* t = info()->stringForKey("title")) setTitle(std::string(t->utf8()));
}

void SHRFormOptionController::loadView() {
    table_ = ui::TableView::make({{0, 0}, {320, 416}}, ui::TableViewStyle::Plain);
    table_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    setView(table_);
    table_->setDataSource(this);
    table_->setDelegate(this);
}

void SHRFormOptionController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    updateFromOptions();
    navigationItem()->setLeftBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Cancel, this, &SHRFormOptionController::cancel),
        true);
    // A fixed list is never "delivered", so a multiple-choice one gets its
    // Done button here; otherwise its choices could not be confirmed.
    if (flag("static") && flag("allowMultiple")) showDoneButton();
}

void SHRFormOptionController::showDoneButton() {
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Done, this, &SHRFormOptionController::done),
        true);
}

ui::TableView* SHRFormOptionController::tableView() {
    view();
    return table_.get();
}

bool SHRFormOptionController::flag(const char* key) const {
    auto* n = ns::as<ns::Number>(info()->objectForKey(key));
    return n && n->boolValue();
}

std::vector<long> SHRFormOptionController::chosenIndexes() const {
    std::vector<long> out;
    auto* cur = info()->stringForKey("curIndexes");
    if (!cur || cur->isEqualToString("-1")) return out;
    auto parts = cur->componentsSeparatedByString(",");
    for (ns::Object* o : *parts) out.push_back(static_cast<ns::String*>(o)->intValue());
    return out;
}

void SHRFormOptionController::updateFromOptions() {
    if (!flag("static") && !isProviderRunning() && !delivered_) {
        SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Loading..."));
        ns::Object* o = info()->objectForKey("SHRFormOptionControllerOptionProvider");
        provider_ = dynamic_cast<SHRFormOptionControllerOptionProvider*>(o);
        if (auto p = provider_.lock()) {
            auto keep = ns::keepAlive(this);
            p->SHRFormOptionControllerEnumerateOptions(this);
        }
    } else {
        SHRActivityIndicator::currentIndicator()->hide();
    }
    if (table_) table_->reloadData();
}

void SHRFormOptionController::optionsEnumerated(ns::Ref<ns::Array> options) {
    delivered_ = true;
    provider_ = nullptr;
    if (!options) options = ns::Array::make();
    info()->setObject(options, "itemsList");
    for (long i : chosenIndexes())
        if (i < 0 || static_cast<size_t>(i) >= options->count()) {
            info()->setObject(ns::str("-1"), "curIndexes");
            break;
        }
    updateFromOptions();
    if (flag("allowMultiple")) showDoneButton();
}

void SHRFormOptionController::optionsEnumerationFailedWithError(ns::Ref<ns::Error>) {
    provider_ = nullptr;
    auto* title = info()->stringForKey("title");
    auto alert = ui::AlertView::make(
        SHRLocalizedString("No Options"),
        SHRLocalizedString("Could not find any") + " " + (title ? std::string(title->utf8()) : std::string("(null)")), this,
        SHRLocalizedString("Cancel"));
    alert->show();
}

long SHRFormOptionController::tableViewNumberOfRowsInSection(ui::TableView*, long) {
    ns::Array* items = info()->arrayForKey("itemsList");
    return items ? static_cast<long>(items->count()) : 0;
}

ns::Ref<ui::TableViewCell> SHRFormOptionController::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto cell = t->dequeueReusableCellWithIdentifier("Cell");
    if (!cell) cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, "Cell");
    ns::Array* items = info()->arrayForKey("itemsList");
    auto* text = items && ip.row >= 0 && static_cast<size_t>(ip.row) < items->count()
                     ? ns::as<ns::String>(items->objectAtIndex(static_cast<size_t>(ip.row)))
                     : nullptr;
    cell->textLabel()->setText(text ? std::string(text->utf8()) : "");
    auto chosen = chosenIndexes();
    bool ticked = std::find(chosen.begin(), chosen.end(), ip.row) != chosen.end();
    cell->setAccessoryType(ticked ? ui::TableViewCellAccessoryType::Checkmark : ui::TableViewCellAccessoryType::None);
    return cell;
}

void SHRFormOptionController::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto keep = ns::keepAlive(this);
    ns::Array* items = info()->arrayForKey("itemsList");
    if (!items || ip.row < 0 || static_cast<size_t>(ip.row) >= items->count()) return;
    if (!flag("allowMultiple")) {
        info()->setObject(ns::str(std::to_string(ip.row)), "curIndexes");
        auto* text = ns::as<ns::String>(items->objectAtIndex(static_cast<size_t>(ip.row)));
        if (auto c = client_.lock()) c->SHRFormOptionControllerPickedOption(this, ns::Ref<ns::String>(text));
        return;
    }
    auto chosen = chosenIndexes();
    auto at = std::find(chosen.begin(), chosen.end(), ip.row);
    if (at != chosen.end()) chosen.erase(at);
    else chosen.push_back(ip.row);
    info()->setObject(ns::str(joinIndexes(chosen)), "curIndexes");
    t->reloadRowsAtIndexPaths({ip}, ui::TableViewRowAnimation::None);
}

void SHRFormOptionController::done(ns::Object*) {
    auto keep = ns::keepAlive(this);
    auto value = settings_->optionPickerValueForIndexes(info()->stringForKey("curIndexes"));
    if (auto c = client_.lock()) c->SHRFormOptionControllerPickedOption(this, value);
}

void SHRFormOptionController::cancel(ns::Object*) {
    auto keep = ns::keepAlive(this);
    SHRActivityIndicator::currentIndicator()->hide();
    if (auto p = provider_.lock()) {
        provider_ = nullptr;
        p->SHRFormOptionControllerCancelEnumerateOptions(this);
    }
    provider_ = nullptr;
    if (auto c = client_.lock()) c->SHRFormOptionControllerPickedOption(this, nullptr);
}

}  // namespace sharing
