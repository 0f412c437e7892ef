#include "platform/ui/TableView.h"
#include "platform/foundation/Delegate.h"

#include <algorithm>
#include <set>

#include "platform/foundation/Exception.h"

namespace ui {

// -- Cell -------------------------------------------------------------------------

TableViewCell::TableViewCell(TableViewCellStyle style, std::string reuseIdentifier)
    : View(makeRect(0, 0, 320, 44)), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
    contentView_ = View::make(bounds());
    contentView_->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    addSubview(contentView_);
}

Label* TableViewCell::textLabel() const {
    if (!textLabel_) {
        textLabel_ = Label::make(makeRect(10, 0, std::max(0.0, bounds().width() - 40), bounds().height()));
        textLabel_->setFont(Font::boldSystemFontOfSize(18));
        textLabel_->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        contentView_->addSubview(textLabel_);
    }
    return textLabel_.get();
}

Label* TableViewCell::detailTextLabel() const {
    if (style_ == TableViewCellStyle::Default) return nullptr;
    if (!detailTextLabel_) {
        double h = bounds().height();
        detailTextLabel_ = Label::make(makeRect(10, h / 2, std::max(0.0, bounds().width() - 40), h / 2));
        detailTextLabel_->setFont(Font::systemFontOfSize(14));
        detailTextLabel_->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        contentView_->addSubview(detailTextLabel_);
    }
    return detailTextLabel_.get();
}

ImageView* TableViewCell::imageView() const {
    if (!imageView_) {
        imageView_ = ImageView::make(makeRect(0, 0, 0, 0));
        contentView_->insertSubviewAtIndex(imageView_, 0);
    }
    return imageView_.get();
}

void TableViewCell::setBackgroundView(ns::Ref<View> v) {
    if (backgroundView_ && backgroundView_->superview() == this) backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(v);
    if (backgroundView_) {
        backgroundView_->setFrame(bounds());
        insertSubviewAtIndex(backgroundView_, 0);
    }
}

void TableViewCell::prepareForReuse() {
    selected_ = false;
    highlighted_ = false;
    editing_ = false;
}

// -- Table ------------------------------------------------------------------------

TableView::TableView(Rect frame, TableViewStyle style) : ScrollView(frame), style_(style) {
    if (style == TableViewStyle::Grouped) headerHeight_ = 44;
}

void TableView::setTableHeaderView(ns::Ref<View> v) {
    if (tableHeader_ && tableHeader_->superview() == this) tableHeader_->removeFromSuperview();
    tableHeader_ = std::move(v);
    if (tableHeader_) addSubview(tableHeader_);
    countsValid_ = false;
    setNeedsLayout();
}

void TableView::setTableFooterView(ns::Ref<View> v) {
    if (tableFooter_ && tableFooter_->superview() == this) tableFooter_->removeFromSuperview();
    tableFooter_ = std::move(v);
    if (tableFooter_) addSubview(tableFooter_);
    countsValid_ = false;
    setNeedsLayout();
}

void TableView::enqueue(ns::Ref<TableViewCell> cell) {
    if (cell->superview() == this) cell->removeFromSuperview();
    if (cell->reuseIdentifier().empty()) return;
    auto& pool = reuse_[cell->reuseIdentifier()];
    if (pool.size() < 64) pool.push_back(std::move(cell));
}

ns::Ref<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
    auto it = reuse_.find(identifier);
    if (it == reuse_.end() || it->second.empty()) return nullptr;
    ns::Ref<TableViewCell> cell = it->second.back();
    it->second.pop_back();
    cell->prepareForReuse();
    return cell;
}

void TableView::reloadData() {
    ++reloads_;
    auto cells = std::move(visible_);
    visible_.clear();
    for (auto& [ip, cell] : cells) enqueue(cell);
    countsValid_ = false;
    sections_.clear();
    selected_.reset();
    setNeedsLayout();
}

double TableView::heightForRow(IndexPath ip) {
    double h = -1;
    if (auto d = delegate_.lock()) h = d->tableViewHeightForRowAtIndexPath(this, ip);
    return h < 0 ? rowHeight_ : h;
}

void TableView::ensureCounts() {
    if (countsValid_) return;
    countsValid_ = true;
    sections_.clear();
    auto ds = dataSource_.lock();
    long n = ds ? std::max(0L, ds->numberOfSectionsInTableView(this)) : 0;
    for (long s = 0; s < n; ++s) {
        SectionInfo info;
        info.rows = std::max(0L, ds->tableViewNumberOfRowsInSection(this, s));
        sections_.push_back(std::move(info));
    }
    computeGeometry();
}

void TableView::computeGeometry() {
    auto ds = dataSource_.lock();
    auto d = delegate_.lock();
    // Heights and headers are asked of the delegate and the data source, and
    // one of them may reload the table meanwhile (which empties sections_):
    // the geometry is worked out on a copy, kept only when no reload came.
    const unsigned long generation = reloads_;
    std::vector<SectionInfo> sections = sections_;
    double y = tableHeader_ ? tableHeader_->frame().height() : 0;
    if (tableHeader_) tableHeader_->setFrame(makeRect(0, 0, bounds().width(), tableHeader_->frame().height()));
    for (long s = 0; s < static_cast<long>(sections.size()); ++s) {
        SectionInfo& info = sections[static_cast<size_t>(s)];
        info.top = y;
        double hh = d ? d->tableViewHeightForHeaderInSection(this, s) : -1;
        if (hh < 0) {
            bool hasHeader = (ds && !ds->tableViewTitleForHeaderInSection(this, s).empty()) ||
                             (d && d->tableViewViewForHeaderInSection(this, s));
            hh = hasHeader || style_ == TableViewStyle::Grouped ? headerHeight_ : 0;
        }
        info.headerHeight = hh;
        y += hh;
        info.rowTops.clear();
        for (long r = 0; r < info.rows; ++r) {
            info.rowTops.push_back(y);
            y += heightForRow({s, r});
        }
        info.height = y - info.top;
    }
    if (reloads_ != generation) return;  // worked out again when next asked
    sections_ = std::move(sections);
    if (tableFooter_) {
        tableFooter_->setFrame(makeRect(0, y, bounds().width(), tableFooter_->frame().height()));
        y += tableFooter_->frame().height();
    }
    setContentSize({bounds().width(), y});
}

long TableView::numberOfSections() {
    ensureCounts();
    return static_cast<long>(sections_.size());
}

long TableView::numberOfRowsInSection(long section) {
    ensureCounts();
    return section >= 0 && section < static_cast<long>(sections_.size()) ? sections_[size_t(section)].rows : 0;
}

Rect TableView::rectForRowAtIndexPath(IndexPath ip) {
    ensureCounts();
    if (ip.section < 0 || ip.section >= long(sections_.size())) return {};
    auto& info = sections_[size_t(ip.section)];
    // No rows' places yet while they are being worked out (a delegate asking
    // for a row's place while it is asked for a height).
    if (ip.row < 0 || ip.row >= info.rows || size_t(ip.row) >= info.rowTops.size()) return {};
    double top = info.rowTops[size_t(ip.row)];
    double bottom = ip.row + 1 < info.rows ? info.rowTops[size_t(ip.row + 1)] : info.top + info.height;
    return makeRect(0, top, bounds().width(), bottom - top);
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point p) {
    ensureCounts();
    for (long s = 0; s < long(sections_.size()); ++s)
        for (long r = 0; r < sections_[size_t(s)].rows; ++r)
            if (rectForRowAtIndexPath({s, r}).contains(p)) return IndexPath{s, r};
    return std::nullopt;
}

void TableView::layoutSubviews() {
    ensureCounts();
    auto ds = dataSource_.lock();
    if (!ds) return;
    auto keep = ns::keepAlive(this);
    const unsigned long generation = reloads_;
    Rect visibleRect{contentOffset(), bounds().size};
    std::set<IndexPath> wanted;
    for (long s = 0; s < long(sections_.size()); ++s)
        for (long r = 0; r < sections_[size_t(s)].rows; ++r) {
            Rect rr = rectForRowAtIndexPath({s, r});
            if (rr.intersects(visibleRect)) wanted.insert({s, r});
            else if (rr.minY() >= visibleRect.maxY()) break;
        }
    // Cells that scrolled out leave the map before they leave the table:
    // a cell is told it leaves its superview, and what it does then must not
    // meet a half-walked map.
    std::vector<ns::Ref<TableViewCell>> gone;
    for (auto it = visible_.begin(); it != visible_.end();) {
        if (!wanted.count(it->first)) {
            gone.push_back(std::move(it->second));
            it = visible_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& cell : gone) enqueue(cell);
    for (auto& ip : wanted) {
        // A reload while a cell was made or shown: this pass is over, and
        // the table is laid out again when next asked.
        if (reloads_ != generation) return;
        Rect place = rectForRowAtIndexPath(ip);
        if (auto found = visible_.find(ip); found != visible_.end()) {
            found->second->setFrame(place);
            continue;
        }
        ns::Ref<TableViewCell> cell = ds->tableViewCellForRowAtIndexPath(this, ip);
        if (!cell)
            throw ns::Exception(ns::kInternalInconsistencyException,
                                "the table's data source returned no cell for row " + std::to_string(ip.row) +
                                    " of section " + std::to_string(ip.section));
        if (reloads_ != generation) {
            enqueue(cell);
            return;
        }
        cell->setFrame(rectForRowAtIndexPath(ip));
        cell->setSelected(selected_ && *selected_ == ip);
        cell->setEditing(editing_);
        addSubview(cell);
        visible_[ip] = cell;
        if (auto d = delegate_.lock()) d->tableViewWillDisplayCell(this, cell.get(), ip);
    }
}

TableViewCell* TableView::cellForRowAtIndexPath(IndexPath ip) {
    layoutIfNeeded();
    auto it = visible_.find(ip);
    return it == visible_.end() ? nullptr : it->second.get();
}

std::vector<TableViewCell*> TableView::visibleCells() {
    layoutIfNeeded();
    std::vector<TableViewCell*> out;
    for (auto& [ip, c] : visible_) out.push_back(c.get());
    return out;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() {
    layoutIfNeeded();
    std::vector<IndexPath> out;
    for (auto& [ip, c] : visible_) out.push_back(ip);
    return out;
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell* cell) {
    for (auto& [ip, c] : visible_)
        if (c.get() == cell) return ip;
    return std::nullopt;
}

void TableView::scrollToRowAtIndexPath(IndexPath ip, TableViewScrollPosition position, bool animated) {
    Rect r = rectForRowAtIndexPath(ip);
    if (r.isEmpty()) return;
    double h = bounds().height();
    double maxY = std::max(0.0, contentSize().height - h);
    double y = contentOffset().y;
    switch (position) {
        case TableViewScrollPosition::Top: y = r.minY(); break;
        case TableViewScrollPosition::Middle: y = r.midY() - h / 2; break;
        case TableViewScrollPosition::Bottom: y = r.maxY() - h; break;
        case TableViewScrollPosition::None:
            if (r.minY() < y) y = r.minY();
            else if (r.maxY() > y + h) y = r.maxY() - h;
            break;
    }
    setContentOffset({contentOffset().x, std::clamp(y, 0.0, maxY)}, animated);
    layoutIfNeeded();
}

void TableView::selectRowAtIndexPath(std::optional<IndexPath> ip, bool animated, TableViewScrollPosition p) {
    if (selected_) {
        if (auto* c = cellForRowAtIndexPath(*selected_)) c->setSelected(false);
    }
    selected_ = ip;
    if (ip) {
        if (p != TableViewScrollPosition::None) scrollToRowAtIndexPath(*ip, p, animated);
        if (auto* c = cellForRowAtIndexPath(*ip)) c->setSelected(true);
    }
}

void TableView::deselectRowAtIndexPath(IndexPath ip, bool) {
    if (selected_ && *selected_ == ip) selected_.reset();
    auto it = visible_.find(ip);
    if (it != visible_.end()) it->second->setSelected(false);
}

bool TableView::userSelectRow(IndexPath ip) {
    if (!allowsSelection_) return false;
    if (ip.section < 0 || ip.section >= numberOfSections() || ip.row < 0 || ip.row >= numberOfRowsInSection(ip.section))
        return false;
    auto keep = ns::keepAlive(this);
    auto d = delegate_.lock();
    std::optional<IndexPath> target = d ? d->tableViewWillSelectRowAtIndexPath(this, ip) : ip;
    if (!target) return false;
    if (selected_ && *selected_ != *target) {
        IndexPath old = *selected_;
        deselectRowAtIndexPath(old, false);
        if (d) d->tableViewDidDeselectRowAtIndexPath(this, old);
    }
    selected_ = target;
    if (auto* c = cellForRowAtIndexPath(*target)) c->setSelected(true);
    if (d) d->tableViewDidSelectRowAtIndexPath(this, *target);
    return true;
}

bool TableView::userCommitEditing(IndexPath ip) {
    auto ds = dataSource_.lock();
    if (!ds || !ds->answers(TableViewDataSource::Optional::CommitEditingStyle)) return false;
    if (ip.section < 0 || ip.section >= numberOfSections() || ip.row < 0 || ip.row >= numberOfRowsInSection(ip.section))
        return false;
    if (!ds->tableViewCanEditRowAtIndexPath(this, ip)) return false;
    auto keep = ns::keepAlive(this);
    auto style = TableViewCellEditingStyle::Delete;
    if (auto d = delegate_.lock()) style = d->tableViewEditingStyleForRowAtIndexPath(this, ip);
    if (style == TableViewCellEditingStyle::None) return false;
    ds->tableViewCommitEditingStyle(this, style, ip);
    return true;
}

void TableView::setEditing(bool b, bool) {
    editing_ = b;
    for (auto& [ip, c] : visible_) c->setEditing(b);
}

void TableView::beginUpdates() {
    if (updateDepth_++ > 0) return;
    ensureCounts();
    countsBeforeUpdate_.clear();
    for (auto& s : sections_) countsBeforeUpdate_.push_back(s.rows);
    expectedDelta_.assign(sections_.size(), 0);
}

void TableView::endUpdates() {
    if (updateDepth_ == 0) return;
    if (--updateDepth_ > 0) return;
    applyUpdateCheck();
}

void TableView::applyUpdateCheck() {
    auto before = countsBeforeUpdate_;
    auto delta = expectedDelta_;
    countsValid_ = false;
    ensureCounts();
    if (sections_.size() != before.size())
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "the number of sections changed during a row update");
    for (size_t s = 0; s < before.size(); ++s) {
        if (sections_[s].rows != before[s] + delta[s])
            throw ns::Exception(ns::kInternalInconsistencyException,
                                "invalid update: section " + std::to_string(s) + " has " +
                                    std::to_string(sections_[s].rows) + " rows after the update, expected " +
                                    std::to_string(before[s] + delta[s]));
    }
    ++reloads_;
    auto cells = std::move(visible_);
    visible_.clear();
    for (auto& [ip, cell] : cells) enqueue(cell);
    selected_.reset();
    setNeedsLayout();
}

void TableView::deleteRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation) {
    beginUpdates();
    for (auto& ip : paths) {
        if (ip.section < 0 || size_t(ip.section) >= expectedDelta_.size() || ip.row < 0 ||
            ip.row >= countsBeforeUpdate_[size_t(ip.section)]) {
            updateDepth_ = 0;
            throw ns::Exception(ns::kInvalidArgumentException, "deleteRows: no such row");
        }
        expectedDelta_[size_t(ip.section)] -= 1;
    }
    endUpdates();
}

void TableView::insertRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation) {
    beginUpdates();
    for (auto& ip : paths) {
        if (ip.section < 0 || size_t(ip.section) >= expectedDelta_.size()) {
            updateDepth_ = 0;
            throw ns::Exception(ns::kInvalidArgumentException, "insertRows: no such section");
        }
        expectedDelta_[size_t(ip.section)] += 1;
    }
    endUpdates();
}

void TableView::reloadRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation) {
    std::vector<ns::Ref<TableViewCell>> gone;
    for (auto& ip : paths) {
        auto it = visible_.find(ip);
        if (it == visible_.end()) continue;
        gone.push_back(std::move(it->second));
        visible_.erase(it);
    }
    for (auto& cell : gone) enqueue(cell);
    setNeedsLayout();
}

std::string TableView::headerTitleForSection(long section) {
    auto ds = dataSource_.lock();
    return ds ? ds->tableViewTitleForHeaderInSection(this, section) : std::string();
}

}  // namespace ui
