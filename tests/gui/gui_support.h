// Shared pieces of the window tests: prompts answered from a script, and
// synthetic sessions written to a temporary folder.
#pragma once

#include <optional>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest/QTest>

#include "gui/app/Unit1.h"
#include "gui/common/prompts.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTableView>

namespace guitest {

// The main window's controls and actions, found by their object names as a
// user finds them by their captions: the window keeps its widgets to itself.
struct FormUi {
    QPushButton* LoadGXR = nullptr;
    lorvane::display::TrackPlot* Chart1 = nullptr;
    QLabel* FileNameLabel = nullptr;
    QLabel* CircuitNumberLabel = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* DoubleClickLabel = nullptr;
    TLapListBox* LapTimeBox = nullptr;
    QPushButton* LoadZLG = nullptr;
    QPushButton* loadwmx = nullptr;
    QLabel* DoubleClickLabel2 = nullptr;
    lorvane::display::LapChart* Chart2 = nullptr;
    QCheckBox* FixRefCheckBox = nullptr;
    QComboBox* CompareBox = nullptr;
    QDockWidget* LapDock = nullptr;
    QTableView* LapTable = nullptr;
    QLabel* BestLabel = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QLabel* StatusLabel = nullptr;
    QPushButton* SplitFixButton = nullptr;
    QAction* actLoadGXR = nullptr;
    QAction* actLoadZLG = nullptr;
    QAction* actLoadWmx = nullptr;
    QAction* actLoadLog = nullptr;
    QAction* actQuit = nullptr;
    QAction* actNewCountry = nullptr;
    QAction* actAddToDatabase = nullptr;
    QAction* actCircuits = nullptr;
    QAction* actSessions = nullptr;
    QAction* actAbout = nullptr;
    QAction* actGateRules = nullptr;
    QAction* actExportCsv = nullptr;
    QAction* actExportGpx = nullptr;
    QAction* actSaveStartFinish = nullptr;
    QAction* actPlaceStart = nullptr;
    QAction* actPlaceFinish = nullptr;
    QAction* actAddSplit = nullptr;
    QAction* actRemoveFinish = nullptr;
    QAction* actRemoveSplit = nullptr;
    QAction* actOpenReference = nullptr;
    QAction* actCloseReference = nullptr;
    QAction* actSavePlot = nullptr;
    QAction* actSaveChart = nullptr;
    QAction* actChartTime = nullptr;
    QMenu* ChartChannelsMenu = nullptr;
    QMenu* TrackColourMenu = nullptr;
    QMenu* RecentMenu = nullptr;
    QAction* actClearRecent = nullptr;
    QAction* actPreferences = nullptr;

    explicit FormUi(const TForm1& form) {
        LoadGXR = find<QPushButton>(form, "LoadGXR");
        Chart1 = find<lorvane::display::TrackPlot>(form, "Chart1");
        FileNameLabel = find<QLabel>(form, "FileNameLabel");
        CircuitNumberLabel = find<QLabel>(form, "CircuitNumberLabel");
        Label10 = find<QLabel>(form, "Label10");
        Label11 = find<QLabel>(form, "Label11");
        DoubleClickLabel = find<QLabel>(form, "DoubleClickLabel");
        LapTimeBox = find<TLapListBox>(form, "LapTimeBox");
        LoadZLG = find<QPushButton>(form, "LoadZLG");
        loadwmx = find<QPushButton>(form, "loadwmx");
        DoubleClickLabel2 = find<QLabel>(form, "DoubleClickLabel2");
        Chart2 = find<lorvane::display::LapChart>(form, "Chart2");
        FixRefCheckBox = find<QCheckBox>(form, "FixRefCheckBox");
        CompareBox = find<QComboBox>(form, "CompareBox");
        LapDock = find<QDockWidget>(form, "LapDock");
        LapTable = find<QTableView>(form, "LapTable");
        BestLabel = find<QLabel>(form, "BestLabel");
        ProgressBar = find<QProgressBar>(form, "ProgressBar");
        StatusLabel = find<QLabel>(form, "StatusLabel");
        SplitFixButton = find<QPushButton>(form, "SplitFixButton");
        actLoadGXR = find<QAction>(form, "actLoadGXR");
        actLoadZLG = find<QAction>(form, "actLoadZLG");
        actLoadWmx = find<QAction>(form, "actLoadWmx");
        actLoadLog = find<QAction>(form, "actLoadLog");
        actQuit = find<QAction>(form, "actQuit");
        actNewCountry = find<QAction>(form, "actNewCountry");
        actAddToDatabase = find<QAction>(form, "actAddToDatabase");
        actCircuits = find<QAction>(form, "actCircuits");
        actSessions = find<QAction>(form, "actSessions");
        actAbout = find<QAction>(form, "actAbout");
        actGateRules = find<QAction>(form, "actGateRules");
        actExportCsv = find<QAction>(form, "actExportCsv");
        actExportGpx = find<QAction>(form, "actExportGpx");
        actSaveStartFinish = find<QAction>(form, "actSaveStartFinish");
        actPlaceStart = find<QAction>(form, "actPlaceStart");
        actPlaceFinish = find<QAction>(form, "actPlaceFinish");
        actAddSplit = find<QAction>(form, "actAddSplit");
        actRemoveFinish = find<QAction>(form, "actRemoveFinish");
        actRemoveSplit = find<QAction>(form, "actRemoveSplit");
        actOpenReference = find<QAction>(form, "actOpenReference");
        actCloseReference = find<QAction>(form, "actCloseReference");
        actSavePlot = find<QAction>(form, "actSavePlot");
        actSaveChart = find<QAction>(form, "actSaveChart");
        actChartTime = find<QAction>(form, "actChartTime");
        ChartChannelsMenu = find<QMenu>(form, "ChartChannelsMenu");
        TrackColourMenu = find<QMenu>(form, "TrackColourMenu");
        RecentMenu = find<QMenu>(form, "RecentMenu");
        actClearRecent = find<QAction>(form, "actClearRecent");
        actPreferences = find<QAction>(form, "actPreferences");
    }

private:
    template <class W>
    static W* find(const TForm1& form, const char* name) {
        W* w = form.findChild<W*>(QString::fromLatin1(name));
        if (!w) qFatal("the main window has no %s", name);
        return w;
    }
};

inline FormUi ui(const TForm1& form) {
    return FormUi(form);
}

// The entry of a menu whose caption starts with `caption` (null if none).
inline QAction* menuEntry(const QMenu* menu, const QString& caption) {
    for (QAction* a : menu->actions())
        if (a->text().startsWith(caption)) return a;
    return nullptr;
}

// Every question is recorded; the answers come from the queues. A question
// without a scripted answer is recorded as unexpected and answered with a
// cancel (or No).
class ScriptedPrompts : public lorvane::app::Prompts {
public:
    struct Asked {
        QString kind; // "open", "save", "confirm", "inform", "error", "choose"
        QString title;
        QString text;        // initial file name for dialogs, the message otherwise
        QString folder = {}; // the folder a file dialog was to open in
    };

    QList<Asked> asked;
    QList<std::optional<QString>> files; // answers to open and save dialogs, in order
    QList<bool> answers;                 // answers to confirmations
    QList<std::optional<int>> choices;   // answers to choices (an index, or cancel)
    QStringList offered;                 // the items of the latest choice
    int unexpected = 0;

    std::optional<QString> openFile(QWidget*, const QString& title, const QString& initial) override {
        asked.append({QStringLiteral("open"), title, initial, takeStartFolder()});
        return nextFile();
    }
    std::optional<QString> saveFile(QWidget*, const QString& title, const QString& initial) override {
        asked.append({QStringLiteral("save"), title, initial, takeStartFolder()});
        return nextFile();
    }
    bool confirm(QWidget*, const QString& caption, const QString& text) override {
        asked.append({QStringLiteral("confirm"), caption, text});
        if (answers.isEmpty()) {
            ++unexpected;
            return false;
        }
        return answers.takeFirst();
    }
    void inform(QWidget*, const QString& caption, const QString& text) override {
        asked.append({QStringLiteral("inform"), caption, text});
    }
    void error(QWidget*, const QString& text) override { asked.append({QStringLiteral("error"), QString(), text}); }
    std::optional<int> choose(QWidget*, const QString& caption, const QString& text,
                              const QStringList& items) override {
        asked.append({QStringLiteral("choose"), caption, text});
        offered = items;
        if (choices.isEmpty()) {
            ++unexpected;
            return std::nullopt;
        }
        return choices.takeFirst();
    }

    QList<lorvane::app::SaveAnswer> saveAnswers; // answers to "save your work?"
    lorvane::app::SaveAnswer askToSave(QWidget*, const QString& caption, const QString& text) override {
        asked.append({QStringLiteral("askToSave"), caption, text});
        if (saveAnswers.isEmpty()) {
            ++unexpected;
            return lorvane::app::SaveAnswer::Discard;
        }
        return saveAnswers.takeFirst();
    }

    QStringList kinds() const {
        QStringList k;
        for (const Asked& a : asked) k << a.kind;
        return k;
    }
    void clear() {
        asked.clear();
        files.clear();
        answers.clear();
        choices.clear();
        saveAnswers.clear();
        offered.clear();
        unexpected = 0;
    }

private:
    std::optional<QString> nextFile() {
        if (files.isEmpty()) {
            ++unexpected;
            return std::nullopt;
        }
        return files.takeFirst();
    }
};

// The main window on a session of its own, shown, with the load's end
// signal watched.
struct MainWindow {
    lorvane::Session session;
    ScriptedPrompts prompts;
    TForm1 form{session, prompts};
    QSignalSpy ended{&form, &TForm1::loadEnded};

    MainWindow() {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    // LoadGXR, then the log's button, each file chosen in its dialog.
    bool load(const QString& gxr, const QString& log, bool binary = false) {
        prompts.files << gxr << log;
        guitest::ui(form).LoadGXR->click();
        (binary ? guitest::ui(form).loadwmx : guitest::ui(form).LoadZLG)->click();
        return ended.wait(60000);
    }
    // The lap list's lines.
    QStringList lines() const {
        QStringList l;
        for (int i = 0; i < guitest::ui(form).LapTimeBox->count(); ++i)
            l << guitest::ui(form).LapTimeBox->item(i)->text();
        return l;
    }
};

// A generated session written as demo.gxr, demo.zlg and demo.wmx.
struct SessionFiles {
    QTemporaryDir dir;
    lorvane::gen::Session session;
    QString gxr, zlg, wmx;

    explicit SessionFiles(const lorvane::gen::Options& options) : session(lorvane::gen::generate(options)) {
        gxr = write(QStringLiteral("demo.gxr"), session.gxr);
        zlg = write(QStringLiteral("demo.zlg"), session.zlg);
        wmx = write(QStringLiteral("demo.wmx"), session.wmx);
    }

    QString write(const QString& name, const std::string& bytes) const {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return path;
    }
    QString path(const QString& name) const { return dir.filePath(name); }
};

inline lorvane::gen::Options sessionOptions(std::uint64_t seed, int laps, bool finishGate) {
    lorvane::gen::Options o;
    o.seed = seed;
    o.laps = laps;
    o.finishGate = finishGate;
    o.dropouts = false;
    return o;
}

// The next widget that Tab moves to from `w` (enabled or not).
inline QWidget* nextTabStop(QWidget* w) {
    for (QWidget* n = w->nextInFocusChain(); n && n != w; n = n->nextInFocusChain())
        if (n->focusPolicy() & Qt::TabFocus) return n;
    return nullptr;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline std::string toPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace guitest
