#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "platform/foundation/Exception.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"
#include "testsupport/UITest.h"

using testsupport::UITest;

namespace ui::test {
namespace {

using TableTest = UITest;

// Rows "s<section>r<row>"; counts calls; deletion optional.
struct Source : ns::Object, TableViewDataSource, TableViewDelegate {
    std::vector<std::vector<std::string>> rows{{"a", "b", "c"}};
    std::vector<std::string> headers;
    bool deletable = false;
    int made = 0, reused = 0, cellCalls = 0;
    std::vector<std::string> selected;
    std::optional<IndexPath> refuse;

    long numberOfSectionsInTableView(TableView*) override { return long(rows.size()); }
    long tableViewNumberOfRowsInSection(TableView*, long s) override { return long(rows[size_t(s)].size()); }
    ns::Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView* t, IndexPath ip) override {
        ++cellCalls;
        auto cell = t->dequeueReusableCellWithIdentifier("Cell");
        if (cell) ++reused;
        else {
            ++made;
            cell = TableViewCell::make(TableViewCellStyle::Subtitle, "Cell");
        }
        cell->textLabel()->setText(rows[size_t(ip.section)][size_t(ip.row)]);
        return cell;
    }
    std::string tableViewTitleForHeaderInSection(TableView*, long s) override {
        return size_t(s) < headers.size() ? headers[size_t(s)] : std::string();
    }
    void tableViewCommitEditingStyle(TableView* t, TableViewCellEditingStyle style, IndexPath ip) override {
        auto& sec = rows[size_t(ip.section)];
        sec.erase(sec.begin() + ip.row);
        t->deleteRowsAtIndexPaths({ip}, TableViewRowAnimation::Fade);
    }
    bool answers(TableViewDataSource::Optional op) const override {
        return op == TableViewDataSource::Optional::CommitEditingStyle && deletable;
    }
    std::optional<IndexPath> tableViewWillSelectRowAtIndexPath(TableView*, IndexPath ip) override {
        if (refuse && *refuse == ip) return std::nullopt;
        return ip;
    }
    void tableViewDidSelectRowAtIndexPath(TableView* t, IndexPath ip) override {
        selected.push_back(rows[size_t(ip.section)][size_t(ip.row)]);
    }
    void tableViewDidDeselectRowAtIndexPath(TableView*, IndexPath ip) override {
        deselected.push_back(rows[size_t(ip.section)][size_t(ip.row)]);
    }
    std::vector<std::string> deselected;
};

TEST_F(TableTest, AReplacedBackgroundHeaderOrFooterLeavesAndOneMovedElsewhereStaysThere) {
    auto table = TableView::make(makeRect(0, 0, 320, 400));
    auto cell = TableViewCell::make(TableViewCellStyle::Default, "c");
    auto elsewhere = View::make(makeRect(0, 0, 10, 10));
    struct Row {
        const char* name;
        View* owner;
        std::function<void(ns::Ref<View>)> set;
    } rows[] = {
        {"cell background", cell.get(), [&](ns::Ref<View> v) { cell->setBackgroundView(std::move(v)); }},
        {"table header", table.get(), [&](ns::Ref<View> v) { table->setTableHeaderView(std::move(v)); }},
        {"table footer", table.get(), [&](ns::Ref<View> v) { table->setTableFooterView(std::move(v)); }},
    };
    for (const Row& row : rows) {
        auto first = View::make(makeRect(0, 0, 320, 20));
        auto second = View::make(makeRect(0, 0, 320, 20));
        row.set(first);
        EXPECT_EQ(first->superview(), row.owner) << row.name;
        row.set(second);
        EXPECT_EQ(first->superview(), nullptr) << row.name;
        EXPECT_EQ(second->superview(), row.owner) << row.name;
        elsewhere->addSubview(second);  // taken away by the app
        row.set(nullptr);
        EXPECT_EQ(second->superview(), elsewhere.get()) << row.name;
    }
}

TEST_F(TableTest, AsksItsDataSourceLazilyForVisibleRows) {
    auto src = ns::make<Source>();
    auto table = TableView::make(makeRect(0, 0, 320, 100));
    table->setDataSource(src.get());
    table->setDelegate(src.get());
    EXPECT_EQ(src->cellCalls, 0);
    src->rows[0].clear();
    for (int i = 0; i < 20; ++i) src->rows[0].push_back("row" + std::to_string(i));
    table->reloadData();
    auto cells = table->visibleCells();
    ASSERT_EQ(cells.size(), 3u);  // 44-point rows in 100 points: rows 0..2
    EXPECT_EQ(cells[0]->textLabel()->text(), "row0");
    EXPECT_EQ(src->made, 3);
    EXPECT_EQ(table->contentSize().height, 20 * 44);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 10}), nullptr);
    // Reloading rows asks again for the visible ones and skips the others.
    src->rows[0][1] = "changed";
    src->rows[0][15] = "unseen";
    table->reloadRowsAtIndexPaths({{0, 1}, {0, 15}}, TableViewRowAnimation::Fade);
    cells = table->visibleCells();
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[1]->textLabel()->text(), "changed");
    EXPECT_EQ(src->cellCalls, 4);
}

TEST_F(TableTest, CellsScrolledAwayAreReused) {
    auto src = ns::make<Source>();
    src->rows[0].clear();
    for (int i = 0; i < 50; ++i) src->rows[0].push_back("row" + std::to_string(i));
    auto table = TableView::make(makeRect(0, 0, 320, 88));
    table->setDataSource(src.get());
    table->visibleCells();
    int madeAtTop = src->made;
    table->scrollToRowAtIndexPath({0, 40}, TableViewScrollPosition::Top, false);
    auto cells = table->visibleCells();
    EXPECT_EQ(cells.front()->textLabel()->text(), "row40");
    EXPECT_EQ(src->made, madeAtTop);  // no new cells: the old ones came back
    EXPECT_GE(src->reused, 2);
    // reloadData puts every visible cell back in the pool.
    int before = src->made;
    table->reloadData();
    table->visibleCells();
    EXPECT_EQ(src->made, before);

    // The pool keeps 64 cells of one kind: with one more put back, the
    // first 64 are kept and the last one, only it, is let go.
    auto many = ns::make<Source>();
    many->rows[0].clear();
    for (int i = 0; i < 65; ++i) many->rows[0].push_back("r" + std::to_string(i));
    auto tall = TableView::make(makeRect(0, 0, 320, 480));
    tall->setRowHeight(1);
    tall->setDataSource(many.get());
    std::vector<ns::Weak<TableViewCell>> shown;
    std::set<TableViewCell*> kept;
    for (TableViewCell* c : tall->visibleCells()) shown.emplace_back(c);
    ASSERT_EQ(shown.size(), 65u);
    ASSERT_EQ(many->made, 65);
    for (size_t i = 0; i < 64; ++i) kept.insert(shown[i].lock().get());
    tall->reloadData();  // puts the 65 back, row by row
    many->rows[0].resize(64);
    auto again = tall->visibleCells();
    ASSERT_EQ(again.size(), 64u);
    EXPECT_EQ(many->made, 65);  // all 64 came from the pool
    EXPECT_EQ(std::set<TableViewCell*>(again.begin(), again.end()), kept);
    EXPECT_TRUE(shown[64].expired());  // the one past the pool's size
}

TEST_F(TableTest, ScrollingARectIntoViewMovesByTheLeastOnEachAxis) {
    struct Case {
        Point from;
        Rect target;
        Point to;
    } cases[] = {
        {{0, 0}, makeRect(10, 10, 20, 20), {0, 0}},       // already in view
        {{0, 0}, makeRect(150, 20, 30, 30), {80, 0}},     // right edge to the right edge
        {{80, 0}, makeRect(10, 10, 10, 10), {10, 0}},     // left edge to the left edge
        {{0, 0}, makeRect(10, 250, 10, 40), {0, 190}},    // bottom edge to the bottom edge
        {{0, 190}, makeRect(10, 100, 10, 10), {0, 100}},  // top edge to the top edge
        {{0, 0}, makeRect(90, 90, 10, 10), {0, 0}},       // ends exactly at the edges
    };
    for (const auto& c : cases) {
        auto scroll = ns::make<ScrollView>(makeRect(0, 0, 100, 100));
        scroll->setContentSize({300, 300});
        scroll->setContentOffset(c.from, false);
        scroll->scrollRectToVisible(c.target, false);
        EXPECT_EQ(scroll->contentOffset().x, c.to.x) << toString(c.target);
        EXPECT_EQ(scroll->contentOffset().y, c.to.y) << toString(c.target);
    }
}

TEST_F(TableTest, RowsAre44PointsAndOnlyGroupedTablesHaveUntitledHeaders) {
    for (auto style : {TableViewStyle::Plain, TableViewStyle::Grouped}) {
        auto src = ns::make<Source>();
        auto table = TableView::make(makeRect(0, 0, 320, 480), style);
        table->setDataSource(src.get());
        EXPECT_EQ(table->rowHeight(), 44);
        EXPECT_EQ(table->rectForRowAtIndexPath({0, 1}).y(), (style == TableViewStyle::Grouped ? 44 : 0) + 44);
    }
    // A height the delegate gives is taken as it is, 0 included; a
    // negative one leaves the table's own (22 over a titled section).
    struct Heights : ns::Object, TableViewDelegate {
        double header = -1;
        double tableViewHeightForHeaderInSection(TableView*, long) override { return header; }
    };
    for (double given : {-1.0, 0.0, 0.5, 30.0}) {
        auto src = ns::make<Source>();
        src->headers = {"Titled"};
        auto heights = ns::make<Heights>();
        heights->header = given;
        auto table = TableView::make(makeRect(0, 0, 320, 480));
        table->setDataSource(src.get());
        table->setDelegate(heights.get());
        EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).y(), given < 0 ? 22 : given) << given;
    }
}

TEST_F(TableTest, SectionsAndHeaders) {
    auto src = ns::make<Source>();
    src->rows = {{"x"}, {"y", "z"}};
    src->headers = {"First", "Second"};
    auto table = TableView::make(makeRect(0, 0, 320, 480));
    table->setDataSource(src.get());
    EXPECT_EQ(table->indexPathForRowAtPoint({5, 22 + 10}), (IndexPath{0, 0}));  // counted on first use
    EXPECT_EQ(table->numberOfSections(), 2);
    EXPECT_EQ(table->numberOfRowsInSection(1), 2);
    EXPECT_EQ(table->headerTitleForSection(1), "Second");
    EXPECT_EQ(table->rectForRowAtIndexPath({1, 0}).y(), 22 + 44 + 22);
    EXPECT_EQ(table->indexPathForRowAtPoint({5, 22 + 44 + 22 + 50}), (IndexPath{1, 1}));
    // A header view set or taken away later moves the rows at the next layout pass.
    for (double header : {30.0, 0.0}) {
        table->setTableHeaderView(header ? View::make(makeRect(0, 0, 320, header)) : nullptr);
        table->layoutIfNeeded();
        ASSERT_TRUE(table->cellForRowAtIndexPath({0, 0}));
        EXPECT_EQ(table->cellForRowAtIndexPath({0, 0})->frame().y(), header + 22);
    }
}

TEST_F(TableTest, SelectionAsksAndTellsTheDelegate) {
    auto src = ns::make<Source>();
    auto table = TableView::make(makeRect(0, 0, 320, 480));
    table->setDataSource(src.get());
    table->setDelegate(src.get());
    EXPECT_TRUE(table->userSelectRow({0, 1}));
    EXPECT_EQ(src->selected, std::vector<std::string>{"b"});
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 1}));
    ASSERT_TRUE(table->cellForRowAtIndexPath({0, 1}));
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 1})->isSelected());
    table->deselectRowAtIndexPath({0, 1}, true);
    EXPECT_FALSE(table->indexPathForSelectedRow());
    src->refuse = IndexPath{0, 2};
    EXPECT_FALSE(table->userSelectRow({0, 2}));
    EXPECT_FALSE(table->userSelectRow({0, 9}));
    EXPECT_EQ(src->selected.size(), 1u);
    // Another row taken by the user lets go of the one before (told once);
    // the same row again lets go of nothing.
    src->refuse.reset();
    src->selected.clear();
    ASSERT_TRUE(table->userSelectRow({0, 0}));
    ASSERT_TRUE(table->userSelectRow({0, 2}));
    ASSERT_TRUE(table->userSelectRow({0, 2}));
    EXPECT_EQ(src->selected, (std::vector<std::string>{"a", "c", "c"}));
    EXPECT_EQ(src->deselected, std::vector<std::string>{"a"});
    EXPECT_FALSE(table->cellForRowAtIndexPath({0, 0})->isSelected());
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 2})->isSelected());
}

TEST_F(TableTest, SwipeToDeleteOnlyWhenTheDataSourceCommits) {
    auto src = ns::make<Source>();
    auto table = TableView::make(makeRect(0, 0, 320, 480));
    table->setDataSource(src.get());
    EXPECT_FALSE(table->userCommitEditing({0, 0}));
    src->deletable = true;
    EXPECT_TRUE(table->userCommitEditing({0, 0}));
    EXPECT_EQ(table->numberOfRowsInSection(0), 2);
    EXPECT_EQ(table->visibleCells().front()->textLabel()->text(), "b");
}

TEST_F(TableTest, UpdatesThatDisagreeWithTheDataSourceRaise) {
    auto src = ns::make<Source>();
    auto table = TableView::make(makeRect(0, 0, 320, 480));
    table->setDataSource(src.get());
    table->visibleCells();
    // The data source still has three rows: deleting one must not pass.
    EXPECT_THROW(table->deleteRowsAtIndexPaths({{0, 1}}, TableViewRowAnimation::Fade), ns::Exception);
    src->rows[0].push_back("d");
    table->insertRowsAtIndexPaths({{0, 3}}, TableViewRowAnimation::Fade);
    EXPECT_EQ(table->numberOfRowsInSection(0), 4);
}

struct NilSource : ns::Object, TableViewDataSource {
    long tableViewNumberOfRowsInSection(TableView*, long) override { return 1; }
    ns::Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView*, IndexPath) override { return nullptr; }
};

TEST_F(TableTest, ANilCellIsAnError) {
    auto src = ns::make<NilSource>();
    auto table = TableView::make(makeRect(0, 0, 320, 480));
    table->setDataSource(src.get());
    EXPECT_THROW(table->visibleCells(), ns::Exception);
}

TEST_F(TableTest, ADeadDataSourceMeansAnEmptyTable) {
    auto table = TableView::make(makeRect(0, 0, 320, 480));
    {
        auto src = ns::make<Source>();
        table->setDataSource(src.get());
    }
    table->reloadData();
    EXPECT_TRUE(table->visibleCells().empty());
    EXPECT_EQ(table->numberOfSections(), 0);
}

// A cell that does something of its own as it leaves the table.
struct LeavingCell : TableViewCell {
    using TableViewCell::TableViewCell;
    std::function<void()> leaving;
    void willMoveToSuperview(View* to) override {
        if (to || !leaving) return;
        auto once = std::move(leaving);
        leaving = nullptr;
        once();
    }
};

// Twelve rows; reloads its table (once per place named) from inside the
// calls the table makes, a row more each time, and asks for the new count
// at once, as a data source that refreshes itself would.
struct ReloadingSource : ns::Object, TableViewDataSource, TableViewDelegate {
    std::vector<std::string> rows;
    std::set<std::string> reloadIn;  // "height", "header", "cell", "shown", "leaving"
    ReloadingSource() {
        for (int i = 0; i < 12; ++i) rows.push_back("r" + std::to_string(i));
    }
    long tableViewNumberOfRowsInSection(TableView*, long) override { return long(rows.size()); }
    ns::Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView* t, IndexPath ip) override {
        auto cell = ns::make<LeavingCell>(TableViewCellStyle::Default, "");
        cell->textLabel()->setText(rows[size_t(ip.row)]);
        ns::Weak<TableView> table(t);
        if (reloadIn.count("leaving")) cell->leaving = [this, table] {
            if (auto held = table.lock()) again(held.get(), "leaving");
        };
        again(t, "cell");
        return cell;
    }
    double tableViewHeightForRowAtIndexPath(TableView* t, IndexPath) override {
        again(t, "height");
        return -1;
    }
    double tableViewHeightForHeaderInSection(TableView* t, long) override {
        again(t, "header");
        return -1;
    }
    void tableViewWillDisplayCell(TableView* t, TableViewCell*, IndexPath) override { again(t, "shown"); }
    void again(TableView* t, const std::string& where) {
        if (!reloadIn.erase(where)) return;
        rows.push_back("r" + std::to_string(rows.size()));
        t->reloadData();
        t->numberOfRowsInSection(0);
    }
};

TEST_F(TableTest, ADataSourceThatReloadsTheTableWhileAskedLeavesItWhole) {
    for (const char* where : {"height", "header", "cell", "shown", "leaving"}) {
        SCOPED_TRACE(where);
        auto src = ns::make<ReloadingSource>();
        src->reloadIn.insert(where);
        auto table = TableView::make(makeRect(0, 0, 320, 400));
        table->setDataSource(src.get());
        table->setDelegate(src.get());
        table->visibleCells();
        table->setContentOffset({0, 200});  // the first rows leave
        table->visibleCells();
        EXPECT_TRUE(src->reloadIn.empty());
        // Whatever was asked while the table called out, it now shows its
        // data as it is: thirteen rows, each cell at its place and with its text.
        EXPECT_EQ(table->numberOfRowsInSection(0), 13);
        EXPECT_EQ(table->contentSize().height, 13 * 44.0);
        EXPECT_EQ(table->rectForRowAtIndexPath({0, 12}), makeRect(0, 12 * 44.0, 320, 44));
        auto paths = table->indexPathsForVisibleRows();
        ASSERT_FALSE(paths.empty());
        EXPECT_EQ(paths.front().row, 4);
        EXPECT_EQ(paths.back().row, 12);
        for (IndexPath ip : paths) {
            TableViewCell* c = table->cellForRowAtIndexPath(ip);
            ASSERT_TRUE(c) << ip.row;
            EXPECT_EQ(c->textLabel()->text(), src->rows[size_t(ip.row)]);
            EXPECT_EQ(c->frame(), table->rectForRowAtIndexPath(ip));
            EXPECT_EQ(c->superview(), table.get());
        }
        size_t inTable = 0;
        for (auto& v : table->subviews())
            if (dynamic_cast<TableViewCell*>(v.get())) ++inTable;
        EXPECT_EQ(inTable, paths.size());
    }
}

}  // namespace
}  // namespace ui::test
