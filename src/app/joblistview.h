#pragma once

#include "shell/folderscan.h"
#include "shell/joblist.h"
#include "shell/probe.h"

#include <QStringList>
#include <QTreeWidget>
#include <functional>

namespace bw {

// The job list on screen: one row per job item, with check marks, the 15 columns and the
// row editing commands. The items themselves live in the job table it is given.
class TJobListView : public QTreeWidget {
    Q_OBJECT

public:
    explicit TJobListView(QWidget* parent = nullptr);

    // Probes one file; when it is accepted, appends its item and a checked row.
    bool AddFileToList(const QString& path);
    // Adds many files in order. The window stays live while they are probed, and a progress
    // window with Cancel shows when the batch takes more than a moment. Returns how many were
    // added.
    int AddFiles(const QStringList& paths);
    // The same for files found below added folders: each found file with its folder.
    int AddFiles(const std::vector<TFoundFile>& found);

    // Appends an item that did not come from a file probe (a CD track) as a checked row.
    TmyMusicFile& AppendItem(TmyMusicFile item);

    int RowCount() const { return topLevelItemCount(); }
    int CheckedCount() const;
    bool ListHasCdTracks() const;
    // The job item of a row; null when there is no such row.
    TmyMusicFile* ItemAt(int row);
    bool IsChecked(int row) const;
    void SetChecked(int row, bool checked);
    QString Status(int row) const;
    void SetStatus(int row, const QString& status);
    // A remark about the row's last conversion, shown when the pointer rests on the row.
    void SetNote(int row, const QString& note);
    // Rewrites a row's texts from its item (after the item changed).
    void RefreshRow(int row);

    void MoveSelected(int delta);
    void RemoveSelected();
    void RemoveAllRows();
    void CheckAll();
    void UncheckAll();
    void InvertAll();

    // What was found below added folders but not taken (a file that cannot be read or is
    // no audio the program reads, a folder that cannot be listed), each with its reason,
    // since the list was last emptied: the result window lists them.
    const std::vector<TFoundFile>& Skipped() const { return skipped_; }

    TJobTable& Table() { return table_; }
    TFileProbe& Probe() { return probe_; }

signals:
    // The list became empty (the CD door watch and "Same as source" follow it).
    void Emptied();

protected:
    void changeEvent(QEvent* event) override;
    // Draws the grid lines between the cells.
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    // Probes a file into the table and makes its row, not yet in the list; null when refused.
    QTreeWidgetItem* ProbeToRow(const TFoundFile& found);
    QTreeWidgetItem* MakeRow(const TmyMusicFile& item);
    // Widens each column as far as the font needs for its caption and for the widest text
    // the column can show; never narrower than the column's set width.
    void FitColumnsToFont();
    void FillRow(QTreeWidgetItem* row, const TmyMusicFile& item, const QString& status);

    TJobTable table_;
    TFileProbe probe_;
    std::vector<TFoundFile> skipped_;
};

} // namespace bw
