#pragma once

#include "shell/conversionrun.h"
#include "shell/folderscan.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace bw {

class TJobListView;

// The progress window of a conversion run. Shown modally; when it comes up it runs the
// conversion, keeps the window live between blocks, and closes with OK once the run ended.
// Its Cancel button asks whether to stop the current file or all.
class TProgress : public QDialog, public TConversionObserver {
    Q_OBJECT

public:
    explicit TProgress(QWidget* parent = nullptr);

    // Runs run while the window shows; list gets the rows' statuses and check marks.
    // Returns when the window has closed.
    int Execute(TConversionRun& run, TJobListView& list);
    // Stops the run without asking: the current file is cancelled and no other is begun.
    void CancelWithoutAsking();

    // TConversionObserver.
    void RowStatusChanged(size_t row, const std::string& status) override;
    void RowUnchecked(size_t row) override;
    void RowNoteChanged(size_t row, const std::string& note) override;
    void FromToChanged(const std::string& from, const std::string& to) override;
    void ItemPercentChanged(int percent) override;
    void TotalPercentChanged(int percent) override;
    void ProcessEvents() override;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override; // Escape and the window's close button mean Cancel

private:
    void CancelClick();

    QLineEdit* from_;
    QLineEdit* to_;
    QProgressBar* item_;
    QProgressBar* total_;
    QPushButton* cancel_;
    TConversionRun* run_ = nullptr;
    TJobListView* list_ = nullptr;
    bool started_ = false;
};

// The result window after a run: the time it took, what was found in the added folders but
// could not be taken, and the offer to open the output folder.
class TSuccessForm2 : public QDialog {
    Q_OBJECT

public:
    explicit TSuccessForm2(QWidget* parent = nullptr);
    // Fills the window for a run; the box is off and disabled when outputs went beside
    // their sources. skipped: listed with their reasons; the list is hidden when empty.
    // verified: each ripped track's file and its AccurateRip result; hidden when empty.
    void Prepare(const QString& elapsed, bool openFolder, bool sameAsSource,
                 const std::vector<TFoundFile>& skipped = {},
                 const std::vector<std::pair<std::string, std::string>>& verified = {});
    bool OpenFolderChecked() const;

private:
    QLabel* time_;
    QLabel* skippedCaption_;
    QTreeWidget* skipped_;
    QLabel* verifiedCaption_;
    QTreeWidget* verified_;
    QCheckBox* openFolder_;
};

} // namespace bw
