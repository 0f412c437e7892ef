// Tables: rows in sections, cells made by the data source and reused by
// identifier, selection and swipe-to-delete told to the delegate.
//
// The table asks its data source lazily: layoutIfNeeded (run by
// visibleCells(), the driver and the text screen) lays out the rows that
// fall inside the table's bounds at its scroll position, asking
// cellForRowAtIndexPath for each; cells that scroll out, and every cell on
// reloadData, go to the reuse pool of their identifier, where
// dequeueReusableCellWithIdentifier finds them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Control.h"
#include "platform/foundation/Delegate.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"

namespace ui {

class TableView;

struct IndexPath {
    long section = 0;
    long row = 0;
    auto operator<=>(const IndexPath&) const = default;
    static IndexPath forRow(long row, long section) { return {section, row}; }
};

enum class TableViewStyle { Plain, Grouped };
enum class TableViewCellStyle { Default, Value1, Value2, Subtitle };
enum class TableViewCellAccessoryType { None, DisclosureIndicator, DetailDisclosureButton, Checkmark };
enum class TableViewCellSelectionStyle { None, Blue, Gray };
enum class TableViewCellEditingStyle { None, Delete, Insert };
enum class TableViewRowAnimation { Fade, Right, Left, Top, Bottom, None, Middle, Automatic };
enum class TableViewScrollPosition { None, Top, Middle, Bottom };
enum class TableViewCellSeparatorStyle { None, SingleLine };

class TableViewCell : public View {
public:
    explicit TableViewCell(TableViewCellStyle style = TableViewCellStyle::Default,
                           std::string reuseIdentifier = {});
    const char* className() const override { return "TableViewCell"; }
    static ns::Ref<TableViewCell> make(TableViewCellStyle style, std::string reuseIdentifier) {
        return ns::make<TableViewCell>(style, std::move(reuseIdentifier));
    }

    TableViewCellStyle style() const { return style_; }
    const std::string& reuseIdentifier() const { return reuseIdentifier_; }
    // The cell's labels and image view, made and added to the content view
    // on first use (so a cell that never uses them has an empty content
    // view for its own subviews). The detail label exists for every style
    // but Default (nil there).
    Label* textLabel() const;
    Label* detailTextLabel() const;
    ImageView* imageView() const;
    View* contentView() const { return contentView_.get(); }

    TableViewCellAccessoryType accessoryType() const { return accessory_; }
    void setAccessoryType(TableViewCellAccessoryType a) { accessory_ = a; }
    const ns::Ref<View>& accessoryView() const { return accessoryView_; }
    void setAccessoryView(ns::Ref<View> v) { accessoryView_ = std::move(v); }
    TableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
    void setSelectionStyle(TableViewCellSelectionStyle s) { selectionStyle_ = s; }
    const ns::Ref<View>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(ns::Ref<View> v);
    const ns::Ref<View>& selectedBackgroundView() const { return selectedBackgroundView_; }
    void setSelectedBackgroundView(ns::Ref<View> v) { selectedBackgroundView_ = std::move(v); }
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool b, bool animated = false) { selected_ = b; }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool b, bool animated = false) { highlighted_ = b; }
    bool isEditing() const { return editing_; }
    void setEditing(bool b, bool animated = false) { editing_ = b; }

    // Called before the cell is handed out again by dequeue.
    virtual void prepareForReuse();

private:
    TableViewCellStyle style_;
    std::string reuseIdentifier_;
    ns::Ref<View> contentView_;
    mutable ns::Ref<Label> textLabel_, detailTextLabel_;
    mutable ns::Ref<ImageView> imageView_;
    ns::Ref<View> accessoryView_, backgroundView_, selectedBackgroundView_;
    TableViewCellAccessoryType accessory_ = TableViewCellAccessoryType::None;
    TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Blue;
    bool selected_ = false, highlighted_ = false, editing_ = false;
};

class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual long numberOfSectionsInTableView(TableView* t) { return 1; }
    virtual long tableViewNumberOfRowsInSection(TableView* t, long section) = 0;
    // Must return a cell (a nil cell raises InternalInconsistencyException).
    virtual ns::Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView* t, IndexPath ip) = 0;
    // Empty text: no header / footer.
    virtual std::string tableViewTitleForHeaderInSection(TableView* t, long section) { return {}; }
    virtual std::string tableViewTitleForFooterInSection(TableView* t, long section) { return {}; }
    virtual bool tableViewCanEditRowAtIndexPath(TableView* t, IndexPath ip) { return true; }
    // Swipe-to-delete (and insert) is offered only when the data source
    // answers this operation: override answers() for Optional::CommitEditingStyle.
    virtual void tableViewCommitEditingStyle(TableView* t, TableViewCellEditingStyle style, IndexPath ip) {}

    enum class Optional { CommitEditingStyle };
    virtual bool answers(Optional op) const { return false; }
};

class TableViewDelegate : public ScrollViewDelegate {
public:
    // Negative: the table's rowHeight.
    virtual double tableViewHeightForRowAtIndexPath(TableView* t, IndexPath ip) { return -1; }
    virtual double tableViewHeightForHeaderInSection(TableView* t, long section) { return -1; }
    virtual void tableViewWillDisplayCell(TableView* t, TableViewCell* cell, IndexPath ip) {}
    // Return the path to select, or nothing to refuse the selection.
    virtual std::optional<IndexPath> tableViewWillSelectRowAtIndexPath(TableView* t, IndexPath ip) { return ip; }
    virtual void tableViewDidSelectRowAtIndexPath(TableView* t, IndexPath ip) {}
    virtual void tableViewDidDeselectRowAtIndexPath(TableView* t, IndexPath ip) {}
    virtual void tableViewAccessoryButtonTappedForRowWithIndexPath(TableView* t, IndexPath ip) {}
    virtual TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(TableView* t, IndexPath ip) {
        return TableViewCellEditingStyle::Delete;
    }
    virtual std::string tableViewTitleForDeleteConfirmationButtonForRowAtIndexPath(TableView* t, IndexPath ip) {
        return "Delete";
    }
    // Header view for a section; nil: the title (if any) is shown.
    virtual ns::Ref<View> tableViewViewForHeaderInSection(TableView* t, long section) { return nullptr; }
};

class TableView : public ScrollView {
public:
    explicit TableView(Rect frame = {}, TableViewStyle style = TableViewStyle::Plain);
    const char* className() const override { return "TableView"; }
    static ns::Ref<TableView> make(Rect frame, TableViewStyle style = TableViewStyle::Plain) {
        return ns::make<TableView>(frame, style);
    }

    TableViewStyle style() const { return style_; }
    TableViewDataSource* dataSource() const { return dataSource_.get(); }
    void setDataSource(TableViewDataSource* d) { dataSource_ = d; reloadData(); }
    TableViewDelegate* tableDelegate() const { return delegate_.get(); }
    void setDelegate(TableViewDelegate* d) { delegate_ = d; ScrollView::setDelegate(d); reloadData(); }

    double rowHeight() const { return rowHeight_; }
    void setRowHeight(double h) { rowHeight_ = h; reloadData(); }
    double sectionHeaderHeight() const { return headerHeight_; }
    void setSectionHeaderHeight(double h) { headerHeight_ = h; }
    TableViewCellSeparatorStyle separatorStyle() const { return separator_; }
    void setSeparatorStyle(TableViewCellSeparatorStyle s) { separator_ = s; }
    const ns::Ref<View>& tableHeaderView() const { return tableHeader_; }
    void setTableHeaderView(ns::Ref<View> v);
    const ns::Ref<View>& tableFooterView() const { return tableFooter_; }
    void setTableFooterView(ns::Ref<View> v);
    bool allowsSelection() const { return allowsSelection_; }
    void setAllowsSelection(bool b) { allowsSelection_ = b; }

    // Forgets all cells (into the reuse pools) and the cached counts; the
    // data source is asked again at the next layout.
    void reloadData();
    // A reused cell with this identifier (prepared for reuse), or nil.
    ns::Ref<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);

    long numberOfSections();
    long numberOfRowsInSection(long section);
    // The visible cell at `ip`, or nil when that row is not on screen.
    // These pointers hold until the table is laid out again (a scroll, a
    // reload, another of these calls after a change): a cell that leaves
    // the screen goes to the reuse pool, or is freed when the pool has no
    // room or it has no identifier. Hold a cell (ns::Ref) to keep it across
    // such a call.
    TableViewCell* cellForRowAtIndexPath(IndexPath ip);
    std::vector<TableViewCell*> visibleCells();
    std::vector<IndexPath> indexPathsForVisibleRows();
    std::optional<IndexPath> indexPathForCell(const TableViewCell* cell);
    // Content coordinates of a row / a section header.
    Rect rectForRowAtIndexPath(IndexPath ip);
    std::optional<IndexPath> indexPathForRowAtPoint(Point contentPoint);
    void scrollToRowAtIndexPath(IndexPath ip, TableViewScrollPosition position, bool animated);

    std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
    // Selection in code: no delegate calls.
    void selectRowAtIndexPath(std::optional<IndexPath> ip, bool animated, TableViewScrollPosition p);
    void deselectRowAtIndexPath(IndexPath ip, bool animated);
    // What a tap on a row does: willSelect, select, didSelect. False when
    // the row does not exist, selection is off or the delegate refused.
    bool userSelectRow(IndexPath ip);
    // What a swipe and a tap on "Delete" do: when the data source answers
    // commitEditingStyle and allows editing the row, commits the delegate's
    // editing style for it. False when deleting is not offered.
    bool userCommitEditing(IndexPath ip);

    bool isEditing() const { return editing_; }
    void setEditing(bool b, bool animated = false);

    // Row updates: the table checks that the data source's new counts match
    // (old count - deleted + inserted) and raises
    // InternalInconsistencyException when they do not.
    void beginUpdates();
    void endUpdates();
    void deleteRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation a);
    void insertRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation a);
    void reloadRowsAtIndexPaths(const std::vector<IndexPath>& paths, TableViewRowAnimation a);

    void layoutSubviews() override;
    // Header titles as the data source gives them (empty for none).
    std::string headerTitleForSection(long section);

private:
    struct SectionInfo { long rows = 0; double headerHeight = 0; double top = 0; std::vector<double> rowTops; double height = 0; };
    void ensureCounts();
    void computeGeometry();
    double heightForRow(IndexPath ip);
    void enqueue(ns::Ref<TableViewCell> cell);
    void applyUpdateCheck();

    TableViewStyle style_;
    ns::WeakDelegate<TableViewDataSource> dataSource_;
    ns::WeakDelegate<TableViewDelegate> delegate_;
    double rowHeight_ = 44, headerHeight_ = 22;
    ns::Ref<View> tableHeader_, tableFooter_;
    TableViewCellSeparatorStyle separator_ = TableViewCellSeparatorStyle::SingleLine;
    bool allowsSelection_ = true, editing_ = false;
    bool countsValid_ = false;
    std::vector<SectionInfo> sections_;
    std::map<IndexPath, ns::Ref<TableViewCell>> visible_;
    std::map<std::string, std::vector<ns::Ref<TableViewCell>>> reuse_;
    std::optional<IndexPath> selected_;
    int updateDepth_ = 0;
    unsigned long reloads_ = 0;  // counts reloads, so a pass can tell one came while it called out
    std::vector<long> countsBeforeUpdate_;
    std::vector<long> expectedDelta_;
};

}  // namespace ui
