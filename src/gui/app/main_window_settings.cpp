// The main window's settings that stay between runs (the folders of the file
// dialogs, the gate rules, the units, the window's geometry), the File >
// Recent logs menu and Tools > Preferences.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>

#include "formats/log_formats.h"
#include "gui/app/Unit1.h"
#include "gui/app/app_settings.h"
#include "gui/app/preferences_dialog.h"
#include "gui/common/prompts.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"

using lorvane::app::AppSettings;

void TForm1::buildSettingsMenus(QMenu* file, QMenu* tools) {
    RecentMenu = new QMenu(tr("&Recent logs"), this);
    RecentMenu->setObjectName(QStringLiteral("RecentMenu"));
    // Below the log loads.
    const QList<QAction*> actions = file->actions();
    const qsizetype after = actions.indexOf(actLoadLog);
    QAction* before = after >= 0 && after + 1 < actions.size() ? actions[after + 1] : nullptr;
    file->insertMenu(before, RecentMenu);
    actClearRecent = new QAction(tr("&Clear list"), this);
    actClearRecent->setObjectName(QStringLiteral("actClearRecent"));
    connect(actClearRecent, &QAction::triggered, this, [this] {
        recentLogs_.clear();
        if (settings_) settings_->setRecentLogs(recentLogs_);
        drawRecentMenu();
    });
    drawRecentMenu();

    tools->addSeparator();
    actPreferences = tools->addAction(tr("&Preferences..."), this, &TForm1::editPreferences);
    actPreferences->setObjectName(QStringLiteral("actPreferences"));
    actPreferences->setMenuRole(QAction::PreferencesRole);
}

bool TForm1::useSettings(AppSettings& settings) {
    settings_ = &settings;
    applyUnits(settings.units());
    if (const auto rules = settings.gateRules()) applyGateRules(*rules);
    recentLogs_ = settings.recentLogs();
    drawRecentMenu();
    restoreChosenChannels(settings.chosenChannels());
    const QByteArray geometry = settings.windowGeometry();
    if (geometry.isEmpty() || !restoreGeometry(geometry)) return false;
    restoreState(settings.windowState());
    return true;
}

void TForm1::saveWindowSettings() {
    if (!settings_) return;
    settings_->setWindow(saveGeometry(), saveState());
    settings_->sync();
}

// --- units ------------------------------------------------------------------------------

void TForm1::applyUnits(const lorvane::Units& u) {
    units_ = u;
    lapModel_->setUnits(u);
    Chart2->setUnits(u);
    Chart1->setUnits(u);
}

void TForm1::editPreferences() {
    lorvane::app::PreferencesDialog dialog(units_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    applyUnits(dialog.units());
    if (settings_) settings_->setUnits(units_);
}

// --- file dialogs that start where they were last used -----------------------------------

std::optional<QString> TForm1::askFile(AppSettings::Folder folder, bool save, const QString& title,
                                       const QString& initialName) {
    if (settings_) prompts_.startNextDialogIn(settings_->folder(folder));
    const auto path = save ? prompts_.saveFile(this, title, initialName)
                           : prompts_.openFile(this, title, initialName);
    if (path && settings_) settings_->setFolder(folder, QFileInfo(*path).absolutePath());
    return path;
}

// --- recent logs ------------------------------------------------------------------------

void TForm1::rememberRecentLog(const QString& path) {
    recentLogs_ = lorvane::app::withRecentLog(recentLogs_, QFileInfo(path).absoluteFilePath());
    if (settings_) settings_->setRecentLogs(recentLogs_);
    drawRecentMenu();
}

void TForm1::drawRecentMenu() {
    RecentMenu->clear();
    QStringList names;
    for (const QString& path : recentLogs_) names << QFileInfo(path).fileName();
    int n = 0;
    for (const QString& path : recentLogs_) {
        ++n;
        // Logs of the same name (every session's "LOG.ZLG") are told apart by their folder.
        QString name = QFileInfo(path).fileName();
        if (names.count(name) > 1)
            name += QStringLiteral(" (%1)").arg(QFileInfo(path).dir().dirName());
        name.replace(u'&', QStringLiteral("&&"));
        QAction* a = RecentMenu->addAction(n < 10 ? QStringLiteral("&%1 %2").arg(n).arg(name)
                                                  : name,
                                           this, [this, path] { openRecentLog(path); });
        a->setObjectName(QStringLiteral("actRecent%1").arg(n));
        a->setToolTip(path);
        a->setStatusTip(path);
    }
    if (n > 0) RecentMenu->addSeparator();
    RecentMenu->addAction(actClearRecent);
    actClearRecent->setEnabled(n > 0);
    RecentMenu->setEnabled(n > 0);
}

void TForm1::openRecentLog(const QString& path) {
    if (busy()) return;
    if (!QFileInfo(path).isFile()) {
        recentLogs_.removeAll(path);
        if (settings_) settings_->setRecentLogs(recentLogs_);
        drawRecentMenu();
        prompts_.inform(this, lorvane::app::programTitle(),
                        tr("%1\n\nThis log is no longer there; it has been taken off the recent "
                           "logs.")
                            .arg(path));
        return;
    }
    if (!snapshot().logLoadsEnabled) {
        StatusLabel->setText(tr("Load a start/finish line file before a log."));
        ownStatus_ = true;
        return;
    }
    // Our own two formats load as their buttons do; the others are found from their content.
    const lorvane::LogFormat* f = lorvane::logFormatByExtension(
        QFile::encodeName(path).toStdString());
    if (f && (f->kind == lorvane::LogKind::Text || f->kind == lorvane::LogKind::Binary))
        startLoad(f->kind, path);
    else
        loadAnyLog(path);
}
