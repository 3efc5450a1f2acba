#include "gui/common/prompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace lorvane::app {

QString programTitle() {
    return QStringLiteral("Lorvane");
}

namespace {

// An initial name such as "*.zlg;" is a pattern: the dialog offers it as its
// filter so that the list shows files of that type from the start, with "All
// files" as the alternative; several patterns are offered together as logs.
// Any other initial name goes into the name box.
QStringList filtersFor(const QString& initialName) {
    static const QRegularExpression pattern(QStringLiteral("^\\*\\.([A-Za-z0-9]+);?$"));
    static const QRegularExpression patterns(
        QStringLiteral("^\\*\\.[A-Za-z0-9]+([ ;]+\\*\\.[A-Za-z0-9]+)+;?$"));
    if (const auto m = pattern.match(initialName); m.hasMatch()) {
        const QString ext = m.captured(1);
        return {QStringLiteral("%1 files (*.%2)").arg(ext.toUpper(), ext),
                QStringLiteral("All files (*)")};
    }
    if (!patterns.match(initialName).hasMatch()) return {};
    static const QRegularExpression one(QStringLiteral("\\*\\.[A-Za-z0-9]+"));
    QStringList list;
    for (auto it = one.globalMatch(initialName); it.hasNext();) list << it.next().captured();
    return {QStringLiteral("Logs (%1)").arg(list.join(u' ')), QStringLiteral("All files (*)")};
}

// The folder of the file last chosen in any dialog of this run: the next
// dialog starts there (the first in the working directory).
QString& lastFolder() {
    static QString folder;
    return folder;
}

void startIn(QFileDialog& dlg, const QString& folder) {
    if (!folder.isEmpty())
        dlg.setDirectory(folder);
    else if (!lastFolder().isEmpty())
        dlg.setDirectory(lastFolder());
}

std::optional<QString> chosen(QFileDialog& dlg) {
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    const QString file = dlg.selectedFiles().constFirst();
    lastFolder() = QFileInfo(file).absolutePath();
    return file;
}

} // namespace

void prepareOpenDialog(QFileDialog& dlg, const QString& initialName) {
    const QStringList filters = filtersFor(initialName);
    if (!filters.isEmpty()) {
        dlg.setNameFilters(filters);
    } else if (!initialName.isEmpty()) {
        dlg.selectFile(initialName);
    }
}

std::optional<QString> DialogPrompts::openFile(QWidget* parent, const QString& title,
                                               const QString& initialName) {
    QFileDialog dlg(parent, title);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    startIn(dlg, takeStartFolder());
    prepareOpenDialog(dlg, initialName);
    return chosen(dlg);
}

std::optional<QString> DialogPrompts::saveFile(QWidget* parent, const QString& title,
                                               const QString& initialName) {
    QFileDialog dlg(parent, title);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
    dlg.setDefaultSuffix(QString());
    startIn(dlg, takeStartFolder());
    dlg.selectFile(initialName);
    return chosen(dlg);
}

bool DialogPrompts::confirm(QWidget* parent, const QString& caption, const QString& text) {
    return QMessageBox::warning(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::Yes) == QMessageBox::Yes;
}

void DialogPrompts::inform(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::information(parent, caption, text, QMessageBox::Ok);
}

void DialogPrompts::error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, programTitle(), text, QMessageBox::Ok);
}

std::optional<int> DialogPrompts::choose(QWidget* parent, const QString& caption,
                                         const QString& text, const QStringList& items) {
    if (items.isEmpty()) return std::nullopt;
    bool ok = false;
    const QString picked = QInputDialog::getItem(parent, caption, text, items, 0, false, &ok);
    if (!ok) return std::nullopt;
    const auto i = items.indexOf(picked);
    if (i < 0) return std::nullopt;
    return static_cast<int>(i);
}

} // namespace lorvane::app

namespace lorvane::app {

SaveAnswer DialogPrompts::askToSave(QWidget* parent, const QString& caption, const QString& text) {
    switch (QMessageBox::warning(parent, caption, text,
                                 QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                 QMessageBox::Save)) {
    case QMessageBox::Save: return SaveAnswer::Save;
    case QMessageBox::Discard: return SaveAnswer::Discard;
    default: return SaveAnswer::Cancel;
    }
}

} // namespace lorvane::app
