#include "app/records_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "base/platform.h"
#include "listing/records_table.h"
#include "plot/plot.h"

namespace {

constexpr int rowHeight = 18;
constexpr int headerHeight = 20;
constexpr int gutter = 18;  // the paint swatch's column
constexpr int barSize = 16;
constexpr int countHeight = 22;
constexpr int sampledRows = 200;

Fl_Color rgb(double r, double g, double b) {
    auto byte = [](double c) { return static_cast<unsigned char>(std::lround(std::clamp(c, 0.0, 1.0) * 255.0)); };
    return fl_rgb_color(byte(r), byte(g), byte(b));
}

// The rows in view, drawn from the records table; the scrollbars move by
// rows down and by pixels across.
class RecordsView : public Fl_Group {
public:
    RecordsView(int x, int y, int w, int h) : Fl_Group(x, y, w, h) {
        vbar_ = new Fl_Scrollbar(x + w - barSize, y, barSize, h - barSize);
        vbar_->type(FL_VERTICAL);
        vbar_->linesize(1);
        vbar_->callback(scrolled, this);
        vbar_->clear_visible_focus();
        hbar_ = new Fl_Scrollbar(x, y + h - barSize, w - barSize, barSize);
        hbar_->type(FL_HORIZONTAL);
        hbar_->linesize(20);
        hbar_->callback(scrolled, this);
        hbar_->clear_visible_focus();
        end();
        box(FL_FLAT_BOX);
        color(FL_WHITE);
    }

    // After the table changed: column widths, scrollbars, the row to show.
    void refresh() {
        const std::vector<RecordsColumn>& columns = recordsTable.columns();
        std::vector<int> dimensions;
        for (const RecordsColumn& c : columns) dimensions.push_back(c.dimension);
        if (dimensions != shownColumns_ || widths_.size() != columns.size()) {
            shownColumns_ = dimensions;
            measureColumns();
        }
        const int target = recordsTable.takeScrollTarget();
        if (target >= 0 && (target < top_ || target >= top_ + visibleRows())) top_ = target - visibleRows() / 2;
        clampTop();
        updateBars();
        redraw();
    }

    void resize(int x, int y, int w, int h) override {
        Fl_Group::resize(x, y, w, h);
        vbar_->resize(x + w - barSize, y, barSize, h - barSize);
        hbar_->resize(x, y + h - barSize, w - barSize, barSize);
        clampTop();
        updateBars();
    }

    void draw() override {
        fl_push_clip(x(), y(), w() - barSize, h() - barSize);
        fl_color(FL_WHITE);
        fl_rectf(x(), y(), w(), h());
        fl_font(FL_HELVETICA, 12);
        drawHeader();
        drawRows();
        drawSortProgress();
        fl_pop_clip();
        fl_color(FL_BACKGROUND_COLOR);
        fl_rectf(x() + w() - barSize, y() + h() - barSize, barSize, barSize);
        draw_child(*vbar_);
        draw_child(*hbar_);
    }

    int handle(int event) override {
        switch (event) {
        case FL_FOCUS:
        case FL_UNFOCUS:
            return 1;
        case FL_PUSH:
            if (Fl::event_inside(vbar_) || Fl::event_inside(hbar_)) return Fl_Group::handle(event);
            Fl::focus(this);
            if (Fl::event_button() != FL_LEFT_MOUSE) return 1;
            if (Fl::event_y() < y() + headerHeight) {
                const int k = columnAt(Fl::event_x());
                if (k >= 0) recordsTable.clickHeading(static_cast<std::size_t>(k));
                followRecordsWindow();
            } else {
                const int row = top_ + (Fl::event_y() - y() - headerHeight) / rowHeight;
                if (row < recordsTable.rowCount()) recordsTable.clickRow(row, currentModifiers());
            }
            redraw();
            return 1;
        case FL_MOUSEWHEEL:
            if (Fl::event_dy() != 0) top_ += Fl::event_dy() * 3;
            if (Fl::event_dx() != 0) scrollX_ += Fl::event_dx() * 20;
            clampTop();
            updateBars();
            redraw();
            return 1;
        case FL_KEYBOARD:
            if (key()) {
                redraw();
                return 1;
            }
            return Fl_Group::handle(event);
        default:
            return Fl_Group::handle(event);
        }
    }

private:
    static void scrolled(Fl_Widget*, void* view) {
        auto* v = static_cast<RecordsView*>(view);
        v->top_ = v->vbar_->value();
        v->scrollX_ = v->hbar_->value();
        v->redraw();
    }

    int visibleRows() const { return std::max(1, (h() - barSize - headerHeight) / rowHeight); }
    int tableWidth() const {
        int sum = gutter;
        for (int w : widths_) sum += w;
        return sum;
    }

    void clampTop() {
        top_ = std::clamp(top_, 0, std::max(0, recordsTable.rowCount() - visibleRows()));
        scrollX_ = std::clamp(scrollX_, 0, std::max(0, tableWidth() - (w() - barSize)));
    }

    void updateBars() {
        vbar_->value(top_, visibleRows(), 0, std::max(recordsTable.rowCount(), 1));
        hbar_->value(scrollX_, w() - barSize, 0, std::max(tableWidth(), 1));
    }

    // Wide enough for the heading and the values of the first rows.
    void measureColumns() {
        const std::vector<RecordsColumn>& columns = recordsTable.columns();
        fl_font(FL_HELVETICA, 12);
        widths_.assign(columns.size(), 60);
        for (std::size_t k = 0; k < columns.size(); ++k)
            widths_[k] = std::max(widths_[k], static_cast<int>(fl_width(columns[k].name.c_str())) + 24);
        char buffer[cellBufferSize];
        recordsTable.forRows(0, sampledRows, [&](int, int record) {
            for (std::size_t k = 0; k < columns.size(); ++k) {
                const std::string text(recordsTable.cellText(record, k, buffer));
                widths_[k] = std::max(widths_[k], std::min(static_cast<int>(fl_width(text.c_str())) + 12, 300));
            }
        });
    }

    int columnX(std::size_t k) const {
        int at = x() + gutter - scrollX_;
        for (std::size_t j = 0; j < k; ++j) at += widths_[j];
        return at;
    }

    int columnAt(int ex) const {
        for (std::size_t k = 0; k < widths_.size(); ++k)
            if (ex >= columnX(k) && ex < columnX(k) + widths_[k]) return static_cast<int>(k);
        return -1;
    }

    // Clips to a cell's box, less whatever of it is scrolled under the gutter.
    void clipCell(int cx, int cy, int width, int height) const {
        const int left = std::max(cx, x() + gutter);
        fl_push_clip(left, cy, std::max(0, cx + width - left), height);
    }

    void drawHeader() {
        const std::vector<RecordsColumn>& columns = recordsTable.columns();
        fl_color(fl_rgb_color(225, 225, 225));
        fl_rectf(x(), y(), w(), headerHeight);
        for (std::size_t k = 0; k < columns.size() && k < widths_.size(); ++k) {
            const int cx = columnX(k);
            fl_color(fl_rgb_color(170, 170, 170));
            fl_line(cx + widths_[k] - 1, y(), cx + widths_[k] - 1, y() + headerHeight - 1);
            fl_color(FL_BLACK);
            clipCell(cx, y(), widths_[k] - 12, headerHeight);
            fl_draw(columns[k].name.c_str(), cx + 4, y() + headerHeight - 6);
            fl_pop_clip();
            const int by = columns[k].dimension < 0 ? labelSort : columns[k].dimension;
            if (by == recordsTable.sortedBy()) {
                // A small triangle: up for ascending, down for descending.
                const int tx = cx + widths_[k] - 10, ty = y() + headerHeight / 2;
                if (recordsTable.sortedDescending())
                    fl_polygon(tx - 4, ty - 2, tx + 4, ty - 2, tx, ty + 3);
                else
                    fl_polygon(tx - 4, ty + 3, tx + 4, ty + 3, tx, ty - 2);
            }
        }
        fl_color(fl_rgb_color(170, 170, 170));
        fl_line(x(), y() + headerHeight - 1, x() + w(), y() + headerHeight - 1);
    }

    void drawRows() {
        const std::vector<RecordsColumn>& columns = recordsTable.columns();
        const int highlighted = recordsTable.highlightedRow();
        const int cursor = recordsTable.cursorRow();
        char buffer[cellBufferSize];
        recordsTable.forRows(top_, visibleRows() + 1, [&](int row, int record) {
            const int ry = y() + headerHeight + (row - top_) * rowHeight;
            Fl_Color background = row % 2 == 0 ? FL_WHITE : fl_rgb_color(246, 246, 246);
            if (recordsTable.rowPicked(row)) background = fl_rgb_color(190, 210, 250);
            if (row == highlighted) background = fl_rgb_color(250, 205, 205);
            fl_color(background);
            fl_rectf(x(), ry, w(), rowHeight);
            if (row == cursor) {
                fl_color(fl_rgb_color(90, 90, 90));
                fl_rect(x(), ry, w() - barSize, rowHeight);
            }
            Rgba paint;
            if (recordsTable.paintOf(record, paint)) {
                // The paint over white, as its alpha shows it, never quite invisible.
                const double a = 0.3 + 0.7 * paint[3];
                fl_color(rgb(1 - a + a * paint[0], 1 - a + a * paint[1], 1 - a + a * paint[2]));
                fl_rectf(x() + 4, ry + 4, 10, 10);
                fl_color(fl_rgb_color(100, 100, 100));
                fl_rect(x() + 4, ry + 4, 10, 10);
            }
            fl_color(FL_BLACK);
            for (std::size_t k = 0; k < columns.size() && k < widths_.size(); ++k) {
                const int cx = columnX(k);
                if (cx + widths_[k] < x() || cx > x() + w()) continue;
                const std::string text(recordsTable.cellText(record, k, buffer));
                clipCell(cx, ry, widths_[k] - 4, rowHeight);
                fl_draw(text.c_str(), cx + 4, ry + rowHeight - 5);
                fl_pop_clip();
            }
        });
    }

    // The load's progress bar, once a sort has run a while.
    void drawSortProgress() {
        if (!recordsTable.sorting() || recordsTable.sortRunningMs() < sortProgressDelayMs) return;
        const int bottom = y() + h() - barSize;
        fl_color(FL_WHITE);
        fl_rectf(x(), bottom - 22, w() - barSize, 22);
        std::string text = "sorting";
        for (const RecordsColumn& c : recordsTable.columns())
            if ((c.dimension < 0 ? labelSort : c.dimension) == recordsTable.sortedBy()) text += " by " + c.name;
        fl_color(FL_BLACK);
        fl_draw(text.c_str(), x() + 8, bottom - 10);
        const int width = w() - barSize;
        fl_color(fl_rgb_color(217, 217, 217));
        fl_rectf(x(), bottom - 4, width, 4);
        fl_color(fl_rgb_color(89, 89, 89));
        fl_rectf(x(), bottom - 4, static_cast<int>(width * std::clamp(recordsTable.sortProgress(), 0.0, 1.0)), 4);
    }

    void bringIntoView(int row) {
        if (row < top_) top_ = row;
        if (row >= top_ + visibleRows()) top_ = row - visibleRows() + 1;
        clampTop();
        updateBars();
    }

    // Arrow keys, Page Up/Down, Home/End, CTRL-A and CTRL-C.
    bool key() {
        const int k = Fl::event_key();
        const int modifiers = currentModifiers();
        if (modifiers == ModCtrl && (k == 'a' || k == 'c')) {
            if (k == 'a') {
                recordsTable.pickAllRows();
            } else {
                const std::string text = recordsTable.copyPickedRows();
                if (!text.empty()) Fl::copy(text.c_str(), static_cast<int>(text.size()), 1);
            }
            return true;
        }
        const int cursor = recordsTable.cursorRow() >= 0 ? recordsTable.cursorRow() : top_ - 1;
        int row;
        switch (k) {
        case FL_Up: row = cursor - 1; break;
        case FL_Down: row = cursor + 1; break;
        case FL_Page_Up: row = cursor - visibleRows(); break;
        case FL_Page_Down: row = cursor + visibleRows(); break;
        case FL_Home: row = 0; break;
        case FL_End: row = INT_MAX; break;
        default: return false;
        }
        recordsTable.moveTo(row, modifiers);
        if (recordsTable.cursorRow() >= 0) bringIntoView(recordsTable.cursorRow());
        return true;
    }

    Fl_Scrollbar* vbar_ = nullptr;
    Fl_Scrollbar* hbar_ = nullptr;
    int top_ = 0;
    int scrollX_ = 0;
    std::vector<int> widths_;
    std::vector<int> shownColumns_;
};

struct RecordsWindow {
    long opens = 0;  // of the records table, seen
    Fl_Double_Window* window = nullptr;
    Fl_Box* count = nullptr;
    RecordsView* view = nullptr;
};

RecordsWindow& records() {
    static RecordsWindow w;
    return w;
}

// Closing the window (its close box or Escape) closes the records table.
void closed(Fl_Widget* window, void*) {
    recordsTable.close();
    window->hide();
}

void build() {
    RecordsWindow& r = records();
    // Below the main window, which starts at (50, 50) and is 520 pixels high.
    r.window = new Fl_Double_Window(60, 600, 820, 300, "Korvelline records");
    r.count = new Fl_Box(0, 0, 820, countHeight);
    r.count->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    r.view = new RecordsView(0, countHeight, 820, 300 - countHeight);
    r.window->end();
    r.window->resizable(r.view);
    r.window->callback(closed);
}

}  // namespace

bool followRecordsWindow() {
    const bool changed = recordsTable.follow();
    RecordsWindow& r = records();
    if (!recordsTable.isOpen()) {
        if (r.window != nullptr && r.window->shown()) r.window->hide();
        return changed;
    }
    if (r.window == nullptr) build();
    // Shown, or brought to the front when opened again.
    const bool opening = !r.window->shown() || r.opens != recordsTable.opens();
    r.opens = recordsTable.opens();
    if (opening) {
        r.window->show();
        r.view->take_focus();  // the keys move through the rows at once
    }
    if (changed || opening) {
        r.count->copy_label(("  " + recordsTable.countLine()).c_str());
        r.view->refresh();
    }
    return changed || opening;
}

void showRecords(Fl_Widget*, void*) {
    openRecordsTable();
    followRecordsWindow();
}

void closeRecordsWindow() {
    recordsTable.close();
    RecordsWindow& r = records();
    if (r.window != nullptr) r.window->hide();
}
