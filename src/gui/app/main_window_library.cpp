// The main window's side of the session library: a folder dropped on it is
// added on a thread of its own, with progress, a cancel and a summary.
#include <algorithm>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "gui/app/Unit1.h"
#include "gui/common/prompts.h"
#include "gui/dbtools/uSessionsForm.h"

namespace {

std::string toPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString fromPathText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace

// --- folders added to the session library --------------------------------------------------

void TForm1::addToLibrary(const QStringList& folders) {
    if (addingToLibrary()) {
        StatusLabel->setText(
            tr("Logs are being added to the library: wait for the end, or cancel."));
        ownStatus_ = true;
        return;
    }
    std::vector<std::string> paths;
    for (const QString& f : folders) paths.push_back(toPath(f));
    if (!libraryWorker_.start(workspace_.circuitDbPath(), std::move(paths))) return;
    StatusLabel->setText(
        folders.size() == 1
            ? tr("Adding the logs of %1 to the library...").arg(folders.front())
            : tr("Adding the logs of %1 folders to the library...").arg(folders.size()));
    ownStatus_ = true;
    ProgressBar->setRange(0, 0); // the folders are being searched
    ProgressBar->show();
    CancelAddButton->setEnabled(true);
    CancelAddButton->show();
    actCancelAdd->setEnabled(true);
}

void TForm1::cancelLibraryAdd() {
    if (!addingToLibrary()) return;
    libraryWorker_.cancel();
    CancelAddButton->setEnabled(false);
    StatusLabel->setText(tr("Cancelling: the log being stored is the last one..."));
    ownStatus_ = true;
}

void TForm1::onLibraryProgress(qint64 done, qint64 total) {
    if (total <= 0) return;
    ProgressBar->setRange(0, 1000);
    ProgressBar->setValue(
        static_cast<int>(std::clamp(done * 1000 / total, qint64{0}, qint64{1000})));
    ProgressBar->show();
    if (!libraryWorker_.cancelling()) {
        StatusLabel->setText(tr("Adding logs to the library: %1 of %2").arg(done).arg(total));
        ownStatus_ = true;
    }
}

void TForm1::onLibraryAdded(const lorvane::app::LibraryAddReport& report) {
    CancelAddButton->hide();
    actCancelAdd->setEnabled(false);
    if (!loading()) ProgressBar->hide();
    if (!report.error.empty()) {
        prompts_.error(this, QString::fromStdString(report.error));
        StatusLabel->setText(tr("The logs were not added to the library."));
        ownStatus_ = true;
        return;
    }
    int count[4] = {0, 0, 0, 0};
    QString refused;
    for (const lorvane::AddResult& r : report.results) {
        ++count[static_cast<int>(r.outcome)];
        if (r.outcome == lorvane::AddOutcome::Refused)
            refused += QStringLiteral("\n%1: %2")
                           .arg(fromPathText(r.path), QString::fromStdString(r.reason));
    }
    const QString counts = tr("%1 added, %2 updated, %3 unchanged, %4 refused")
                               .arg(count[static_cast<int>(lorvane::AddOutcome::Added)])
                               .arg(count[static_cast<int>(lorvane::AddOutcome::Updated)])
                               .arg(count[static_cast<int>(lorvane::AddOutcome::Unchanged)])
                               .arg(count[static_cast<int>(lorvane::AddOutcome::Refused)]);
    StatusLabel->setText(report.cancelled ? tr("Library (cancelled): ") + counts
                                          : tr("Library: ") + counts);
    ownStatus_ = true;
    if (sessions_ && sessions_->isVisible()) sessions_->refresh();
    if (!refused.isEmpty())
        prompts_.inform(this, tr("Logs not added"),
                        tr("These files were not added to the library:") + u'\n' + refused);
}
