#include "app/joblistview.h"

#include "core/genrelist.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPainter>
#include <QProgressDialog>
#include <QStyledItemDelegate>
#include <array>
#include <limits>

namespace bw {

namespace {

constexpr int kSlotRole = Qt::UserRole;
constexpr int kStatusColumn = 2;

struct TColumnSpec {
    const char* Caption;
    int Width; // 0: the default width
    Qt::Alignment Align;
};

constexpr std::array<TColumnSpec, kJobColumnCount> kJobColumns{{
    {"Filename", 250, Qt::AlignLeft},    {"Type", 95, Qt::AlignLeft},
    {"Status", 80, Qt::AlignHCenter},    {"File size", 75, Qt::AlignRight},
    {"Sample rate", 135, Qt::AlignLeft}, {"Bit rate", 90, Qt::AlignLeft},
    {"Length", 75, Qt::AlignRight},      {"Title", 170, Qt::AlignLeft},
    {"Artist", 170, Qt::AlignLeft},      {"Album", 170, Qt::AlignLeft},
    {"Genre", 100, Qt::AlignLeft},       {"Year", 0, Qt::AlignLeft},
    {"Track", 0, Qt::AlignLeft},         {"Comments", 170, Qt::AlignLeft},
    {"File path", 550, Qt::AlignLeft},
}};

// The widest texts of the columns whose texts come from a known set, each the widest value
// that column can really show (which of them is widest depends on the font, so all are
// measured). Columns of free text (file names, tags, paths) keep their set widths.
std::array<QStringList, kJobColumnCount> WidestTexts() {
    std::array<QStringList, kJobColumnCount> texts;
    auto add = [&texts](const TmyMusicFile& item, std::initializer_list<int> columns) {
        const auto row = JobRowTexts(item, {});
        for (int c : columns)
            texts[static_cast<size_t>(c)] << QString::fromStdString(row[static_cast<size_t>(c)]);
    };
    for (const TSourceExtension& e : SourceExtensions())
        texts[1] << QString::fromUtf8(e.TypeName.data(), static_cast<qsizetype>(e.TypeName.size()));
    texts[1] << QString::fromLatin1(kCdTrackTypeName);
    texts[kStatusColumn] = QStringList{QString::fromLatin1(kStatusNew), QStringLiteral("Coverting..."),
                                       QStringLiteral("Done"), QStringLiteral("Error"),
                                       QStringLiteral("100% Canceled")};
    TmyMusicFile item;
    // MPEG and Musepack name their channel modes and go up to 48000 Hz; the others name the
    // channel count and may be hi-res.
    item.SampleRate = 48000;
    for (const char* mode : {"Joint Stereo", "Dual Channel", "JointStereo"}) {
        item.ChannelMode = mode;
        add(item, {4});
    }
    item.SampleRate = 384000;
    for (const char* mode : {"Stereo", "Mono", "Unknown", "Surround"}) {
        item.ChannelMode = mode;
        add(item, {4});
    }
    item.Bitrate = 98304000; // 8 channels of 32 bits at 384000 Hz
    add(item, {5});
    item.Bitrate = 448000; // the top MPEG rate, flagged VBR
    item.IsVbr = true;
    item.FileSize = static_cast<int64_t>(9999.99 * 1024 * 1024); // recordings near 10 GB
    item.DurationMs = std::numeric_limits<int32_t>::max();
    item.Track = 255;
    add(item, {3, 5, 6, 12});
    for (const std::string& genre : GenreList().Names())
        texts[10] << QString::fromStdString(genre);
    texts[11] << QStringLiteral("0000");
    return texts;
}

// The grid line under each row takes the row's last pixel line, so a row is as tall as the
// font's full height (ascent and descent), a margin above and below it, and that line; the
// style's own height holds when it is more (a check box taller than the text).
constexpr int kRowTextMargin = 1;
constexpr int kGridLine = 1;

class TJobRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const QFontMetrics fm(option.font);
        size.setHeight(std::max(size.height(), fm.ascent() + fm.descent() + 2 * kRowTextMargin) + kGridLine);
        return size;
    }
};

// How long a batch may block the window before it lets the window repaint, and how long it
// runs before the progress window shows.
constexpr int kSliceMs = 40;
constexpr int kProgressDelayMs = 400;

} // namespace

TJobListView::TJobListView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("ListView1"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new TJobRowDelegate(this));
    setColumnCount(kJobColumnCount);
    QStringList headers;
    for (const auto& c : kJobColumns)
        headers << QString::fromUtf8(c.Caption);
    setHeaderLabels(headers);
    for (int i = 0; i < kJobColumnCount; ++i)
        headerItem()->setTextAlignment(i, kJobColumns[static_cast<size_t>(i)].Align | Qt::AlignVCenter);
    FitColumnsToFont();
}

void TJobListView::FitColumnsToFont() {
    static const auto widest = WidestTexts();
    // Measured as the view measures a cell: text, margins and the style's own padding.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    for (int c = 0; c < kJobColumnCount; ++c) {
        const auto& column = kJobColumns[static_cast<size_t>(c)];
        int width = std::max(column.Width > 0 ? column.Width : header()->defaultSectionSize(),
                             header()->sectionSizeHint(c));
        option.displayAlignment = column.Align | Qt::AlignVCenter;
        for (const QString& text : widest[static_cast<size_t>(c)]) {
            option.text = text;
            width = std::max(width, style()->sizeFromContents(QStyle::CT_ItemViewItem, &option,
                                                              QSize(), this).width());
        }
        setColumnWidth(c, width);
    }
}

void TJobListView::changeEvent(QEvent* event) {
    QTreeWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        FitColumnsToFont();
}

bool TJobListView::AddFileToList(const QString& path) {
    QTreeWidgetItem* row = ProbeToRow({path.toStdString(), {}});
    if (!row)
        return false;
    addTopLevelItem(row);
    return true;
}

QTreeWidgetItem* TJobListView::ProbeToRow(const TFoundFile& found) {
    auto result = ProbeFoundFile(probe_, found);
    if (!result)
        return nullptr;
    if (!result->Accepted) {
        // A file named on its own is dropped without a word, as it always was; what a
        // library folder holds is said, so that nothing goes missing unnoticed.
        if (!found.AddedFrom.empty())
            skipped_.push_back({found.Path, found.AddedFrom, result->Reason});
        return nullptr;
    }
    return MakeRow(table_.Add(std::move(result->Item)));
}

int TJobListView::AddFiles(const QStringList& paths) {
    std::vector<TFoundFile> files;
    files.reserve(static_cast<size_t>(paths.size()));
    for (const QString& p : paths)
        files.push_back({p.toStdString(), {}});
    return AddFiles(files);
}

int TJobListView::AddFiles(const std::vector<TFoundFile>& paths) {
    int added = 0;
    QElapsedTimer total, slice;
    total.start();
    slice.start();
    std::unique_ptr<QProgressDialog> progress;
    // Rows are filled off the list and put in a slice at a time: the view then updates once
    // per slice rather than once per cell.
    QList<QTreeWidgetItem*> pending;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (QTreeWidgetItem* row = ProbeToRow(paths[i])) {
            pending << row;
            ++added;
        }
        if (slice.elapsed() < kSliceMs)
            continue;
        addTopLevelItems(pending);
        pending.clear();
        // Let the window repaint and the status bar count, and show progress for a long batch.
        if (!progress && total.elapsed() > kProgressDelayMs && i + 1 < paths.size()) {
            progress = std::make_unique<QProgressDialog>(tr("Adding files..."), tr("Cancel"), 0,
                                                         static_cast<int>(paths.size()), window());
            progress->setObjectName(QStringLiteral("AddProgress"));
            progress->setWindowModality(Qt::WindowModal);
            progress->setMinimumDuration(0);
        }
        if (progress) {
            progress->setValue(static_cast<int>(i + 1));
            if (progress->wasCanceled())
                break;
        }
        QApplication::processEvents();
        slice.restart();
    }
    addTopLevelItems(pending);
    return added;
}

TmyMusicFile& TJobListView::AppendItem(TmyMusicFile newItem) {
    TmyMusicFile& item = table_.Add(std::move(newItem));
    addTopLevelItem(MakeRow(item));
    return item;
}

QTreeWidgetItem* TJobListView::MakeRow(const TmyMusicFile& item) {
    auto* row = new QTreeWidgetItem;
    row->setData(0, kSlotRole, item.TableIndex);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Checked);
    FillRow(row, item, QString::fromLatin1(kStatusNew));
    return row;
}

void TJobListView::FillRow(QTreeWidgetItem* row, const TmyMusicFile& item, const QString& status) {
    const auto texts = JobRowTexts(item, status.toStdString());
    for (int c = 0; c < kJobColumnCount; ++c) {
        row->setText(c, QString::fromStdString(texts[static_cast<size_t>(c)]));
        const Qt::Alignment align = kJobColumns[static_cast<size_t>(c)].Align;
        if (align != Qt::AlignLeft)
            row->setTextAlignment(c, align | Qt::AlignVCenter);
    }
}

int TJobListView::CheckedCount() const {
    int n = 0;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->checkState(0) == Qt::Checked)
            ++n;
    return n;
}

bool TJobListView::ListHasCdTracks() const {
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->text(1) == QLatin1String(kCdTrackTypeName))
            return true;
    return false;
}

TmyMusicFile* TJobListView::ItemAt(int row) {
    QTreeWidgetItem* r = topLevelItem(row);
    return r ? table_.At(r->data(0, kSlotRole).toInt()) : nullptr;
}

bool TJobListView::IsChecked(int row) const {
    const QTreeWidgetItem* r = topLevelItem(row);
    return r && r->checkState(0) == Qt::Checked;
}

void TJobListView::SetChecked(int row, bool checked) {
    if (QTreeWidgetItem* r = topLevelItem(row))
        r->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

QString TJobListView::Status(int row) const {
    const QTreeWidgetItem* r = topLevelItem(row);
    return r ? r->text(kStatusColumn) : QString();
}

void TJobListView::SetStatus(int row, const QString& status) {
    if (QTreeWidgetItem* r = topLevelItem(row))
        r->setText(kStatusColumn, status);
}

void TJobListView::SetNote(int row, const QString& note) {
    if (QTreeWidgetItem* r = topLevelItem(row))
        for (int c = 0; c < columnCount(); ++c)
            r->setToolTip(c, note);
}

void TJobListView::RefreshRow(int row) {
    QTreeWidgetItem* r = topLevelItem(row);
    const TmyMusicFile* item = ItemAt(row);
    if (r && item)
        FillRow(r, *item, r->text(kStatusColumn));
}

void TJobListView::MoveSelected(int delta) {
    QTreeWidgetItem* current = currentItem();
    if (!current)
        return;
    const int row = indexOfTopLevelItem(current);
    const int target = row + delta;
    if (target < 0 || target >= topLevelItemCount())
        return;
    // The whole row moves: texts, check mark and item go with it.
    QTreeWidgetItem* taken = takeTopLevelItem(row);
    insertTopLevelItem(target, taken);
    setCurrentItem(taken);
    taken->setSelected(true);
    scrollToItem(taken);
}

void TJobListView::RemoveSelected() {
    QTreeWidgetItem* current = currentItem();
    if (!current)
        return;
    table_.Free(current->data(0, kSlotRole).toInt());
    delete current;
    if (topLevelItemCount() == 0) {
        skipped_.clear();
        emit Emptied();
    }
}

void TJobListView::RemoveAllRows() {
    clear();
    table_.Clear();
    skipped_.clear();
    emit Emptied();
}

void TJobListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    // The cells are drawn above the row's last pixel line, which the grid line takes.
    QStyleOptionViewItem cells = option;
    cells.rect.setBottom(option.rect.bottom() - kGridLine);
    QTreeWidget::drawRow(painter, cells, index);
    // Grid lines are painted over the row here, not set by a style sheet: a style sheet
    // that styles the items takes their painting from the style, and under Fusion the
    // selected row then shows white text on a pale tint and a pale check mark. Left to the
    // style, a selected row reads in the highlight colours, window active or not.
    const QPalette& p = option.palette;
    const QColor base = p.color(QPalette::Base), text = p.color(QPalette::Text);
    const auto mix = [](int a, int b) { return (a * 5 + b) / 6; };
    const QColor grid(mix(base.red(), text.red()), mix(base.green(), text.green()),
                      mix(base.blue(), text.blue()));
    painter->save();
    painter->setPen(grid);
    const QRect r = option.rect;
    for (int c = 0; c < columnCount(); ++c) {
        if (isColumnHidden(c))
            continue;
        const int x = columnViewportPosition(c) + columnWidth(c) - 1;
        painter->drawLine(x, r.top(), x, r.bottom());
    }
    painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    painter->restore();
}

void TJobListView::CheckAll() {
    for (int i = 0; i < topLevelItemCount(); ++i)
        topLevelItem(i)->setCheckState(0, Qt::Checked);
}

void TJobListView::UncheckAll() {
    for (int i = 0; i < topLevelItemCount(); ++i)
        topLevelItem(i)->setCheckState(0, Qt::Unchecked);
}

void TJobListView::InvertAll() {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* r = topLevelItem(i);
        r->setCheckState(0, r->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

} // namespace bw
