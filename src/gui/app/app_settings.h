// What the window keeps between runs: the folder each file dialog last used,
// the gate rules, the units, the chosen channels, the window's geometry and
// the logs opened last. The keys are spelled here only. Every value read is
// checked: a missing, damaged or stale one gives its default, so settings
// never stop the program from starting.
#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "analysis/units.h"
#include "laps/gate_rules.h"

class QSettings;

namespace lorvane::app {

class AppSettings {
public:
    // The user's settings, in the platform's own place and format, under the
    // organisation and application names main() gives.
    AppSettings();
    // Settings in an INI file of their own (the tests use one in a temporary folder).
    explicit AppSettings(const QString& iniFile);
    ~AppSettings();
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    // The file dialogs that remember where they were last used.
    enum class Folder { StartFinish, Log, ReferenceSave, ReferenceOpen, Export };
    // The folder, while it still exists; empty otherwise.
    QString folder(Folder dialog) const;
    void setFolder(Folder dialog, const QString& folder);

    // Nothing when the user never chose rules; a stored field that does not
    // read back keeps its default.
    std::optional<GateRules> gateRules() const;
    void setGateRules(const GateRules& rules);

    Units units() const;
    void setUnits(const Units& units);

    // The channels the user chose to see, by name.
    QStringList chosenChannels() const;
    void setChosenChannels(const QStringList& names);

    // QMainWindow::saveGeometry() and saveState(); empty when none stored.
    QByteArray windowGeometry() const;
    QByteArray windowState() const;
    void setWindow(const QByteArray& geometry, const QByteArray& state);

    // The logs opened last, the newest first, at most kRecentLogs.
    static constexpr int kRecentLogs = 8;
    QStringList recentLogs() const;
    void setRecentLogs(const QStringList& paths);

    // Writes what is pending to the store now.
    void sync();

private:
    std::unique_ptr<QSettings> store_;
};

// `path` put first in `list`, once, the list cut to AppSettings::kRecentLogs.
QStringList withRecentLog(QStringList list, const QString& path);

} // namespace lorvane::app
