// Form1, the main window: the three load buttons, the lap list, the track
// plot and the reference-lap option. Every handler asks the user, calls the
// workspace and draws the snapshot it returns; logs are read and their laps
// analysed on a worker thread while the window stays responsive.
#pragma once

#include <optional>
#include <vector>

#include <QListWidget>
#include <QMainWindow>

#include "analysis/lap_analysis.h"
#include "analysis/units.h"
#include "gui/app/app_settings.h"
#include "gui/app/library_worker.h"
#include "gui/app/load_worker.h"
#include "gui/display/lap_table_model.h"
#include "session/session.h"
#include "workspace/workspace.h"

class QAction;
class QCheckBox;
class QComboBox;
class QCustomPlot;
class QDockWidget;
class QTableView;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class TAddCountryForm;
class TAddToDatabaseForm;
class TCircuitsForm;
class TSessionsForm;

namespace lorvane::app {
class Prompts;

} // namespace lorvane::app
namespace lorvane::display {
class LapChart;
class TrackPlot;
} // namespace lorvane::display

// The lap list: a double-click anywhere on it, or Enter, acts on the selected
// lap.
class TLapListBox : public QListWidget {
    Q_OBJECT
public:
    using QListWidget::QListWidget;
signals:
    void DblClick();
    // Ctrl-click on a lap: compare it with the selected one (the selection stays).
    void compareRequested(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1(lorvane::Session& session, lorvane::app::Prompts& prompts, QWidget* parent = nullptr);
    ~TForm1() override;

    // The side windows, for the Tools menu and the one-time reset.
    void setSideWindows(TAddToDatabaseForm* addToDatabase, TAddCountryForm* addCountry);
    // The Circuits window, for Tools > Circuits.
    void setCircuitsWindow(TCircuitsForm* circuits) { circuits_ = circuits; }
    // The Sessions window, for Tools > Sessions; refreshed after a folder is
    // added to the library.
    void setSessionsWindow(TSessionsForm* sessions) { sessions_ = sessions; }
    // The circuit database a log's circuit is looked up in (empty: the
    // user's own). When it holds circuits, the logs may be loaded without a
    // start/finish file.
    void setCircuitDbPath(const std::string& path);

    // What the user works on, as last drawn.
    const lorvane::Snapshot& snapshot() const { return workspace_.snapshot(); }

    // Size of the client area at its smallest; the controls keep their positions
    // in it, and the window is this plus the menu bar and the status bar.
    static constexpr int kClientWidth = 803;
    static constexpr int kClientHeight = 652;
    // The strip chart lies below that, and the window opens tall enough for it.
    static constexpr int kStripHeight = 170;
    static constexpr int kStripGap = 8;
    static constexpr int kExtraPaneHeight =
        90; // the strip chart grows by this for each pane past the first
    static constexpr int kOpenClientHeight = kClientHeight + kStripHeight + kStripGap;
    // The smallest the client area gets: it fits a 1000-pixel-high screen at
    // 150 % scaling.
    static constexpr int kMinClientWidth = 600;
    static constexpr int kMinClientHeight = 440;

    // --- what the user does, as the controls and menus do it ---
    // Loads files as if each had been chosen in the dialog of its button
    // (.gxr, .zlg, .wmx by extension): what a drop onto the window does. A
    // folder among them is added to the session library on a thread of its
    // own, with its progress in the status bar.
    void openFiles(const QStringList& paths);
    bool addingToLibrary() const { return libraryWorker_.running(); }
    // Stops an add to the library before its next file (Escape, or Cancel in
    // the status bar); the logs stored so far stay.
    void cancelLibraryAdd();
    bool loading() const { return worker_.running(); }
    // File > Export lap as CSV / GPX: the selected lap's path.
    void exportLap(bool gpx);
    // The lap the selected one is compared with (0: none).
    void compareWith(std::int32_t lap);
    std::int32_t comparedLap() const { return snapshot().comparedLap; }
    const lorvane::LapAnalysis& analysis() const;
    // The rules later loads use; the loaded log's laps are cut again with
    // them at once.
    void applyGateRules(const lorvane::GateRules& rules);
    enum class PlaceMode { None, Start, Finish, Split };
    // Until a click on the track, or another mode: which line a click places.
    void setPlaceMode(PlaceMode mode);
    PlaceMode placeMode() const { return placeMode_; }
    // Places the line of the current mode across the track at the sample
    // nearest to `point`, and cuts the laps again.
    void placeLineAt(const lorvane::LocalPoint& point);
    void removeFinishLine();
    // Laps > Remove split line: asks which when there are several.
    void removeSplitLine();
    // Moves a gate's point 1 (handle 0 the start gate, then the finish gate
    // when there is one, then the split lines) to the track sample nearest to
    // `point`, its point 2 along the direction of travel there.
    void moveLineTo(int handle, const lorvane::LocalPoint& point);
    // File > Save start/finish file: the lines in force as a .gxr.
    void saveStartFinishFile();
    // File > Open reference file: its lap is the one every lap is compared
    // with, drawn on the track and in the strip chart; closing it goes back
    // to comparing laps of the log.
    void openReferenceFile();
    void closeReferenceFile();
    // --- stored sessions (the library) ---
    // Loads a stored session's log with its circuit's lines and rules.
    void openStoredSession(const lorvane::StoredSession& session);
    // A stored lap of the same circuit as the reference, or compared with
    // the selected lap.
    void useStoredLap(const lorvane::StoredSession& session, std::int32_t lap, bool asCompared);
    // Writes a stored lap (0: the session's fastest) as the reference file,
    // asking where.
    void writeStoredLapRefFile(const lorvane::StoredSession& session, std::int32_t lap);
    // --- settings that stay, units, recent logs (main_window_settings.cpp) ---
    // Reads the user's settings and keeps them up to date from now on; true
    // when the window took its stored geometry (else it keeps its own).
    bool useSettings(lorvane::app::AppSettings& settings);
    // The units of the lap table, the strip chart and the exported lap CSV.
    void applyUnits(const lorvane::Units& u);
    const lorvane::Units& units() const { return units_; }
    // File > Recent logs: loads the log with the lines in force; a log no
    // longer there is taken off the list.
    void openRecentLog(const QString& path);
    const QStringList& recentLogs() const { return recentLogs_; }

public slots:
    void LoadGXRClick();
    void FormActivate();
    void LapTimeBoxDblClick();
    void LoadZLGClick();
    void loadwmxClick();
    void LoadLogClick();

signals:
    // A log load has ended and its result is shown.
    void loadEnded(const lorvane::LoadReport& report);
    // The window was closed: the program ends.
    void closed();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class ClientArea;

    // --- building and laying out (Unit1.cpp) ---
    void buildControls(QWidget* client);
    void buildMenus();
    void buildLineMenus(QMenu* file, QMenu* laps);
    void buildAnalysisControls();
    void layoutClient(const QSize& size);
    int lapListWidth() const;
    // Widens the lap table's dock until every column is in view.
    void fitLapTable();
    void showAbout();
    void buildSettingsMenus(QMenu* file, QMenu* tools);
    void editPreferences();
    void saveWindowSettings();
    void rememberRecentLog(const QString& path);
    void drawRecentMenu();
    // A file dialog that opens in the folder this kind of dialog used last.
    std::optional<QString> askFile(lorvane::app::AppSettings::Folder folder, bool save,
                                   const QString& title, const QString& initialName);

    // --- commands: ask the user, call the workspace (main_window_commands.cpp) ---
    void loadStartFinish(const QString& path);
    void loadAnyLog(const QString& path);
    void closeAfterCancel();
    void startLoad(lorvane::LogKind kind, const QString& path);
    void onBatch(const lorvane::app::LoadBatch& batch);
    void onLoadFinished(const lorvane::LoadReport& report,
                        std::shared_ptr<const lorvane::LogView> view);
    void onPicked(const lorvane::ReferenceLap& ref);
    void onPickFailed(const lorvane::Diagnostic& error);
    void saveLapRefFile(const lorvane::ReferenceLap& ref);
    void editGateRules();
    // After a load without a start/finish file: the circuit from the database.
    void findCircuitForLoaded();
    void enableLogLoadsIfCircuits();
    // Runs a workspace command and draws its snapshot; a LoadError it
    // throws is shown and changes nothing.
    template <class Command>
    bool run(Command&& command);
    void showError(const lorvane::Diagnostic& d);
    // --- adding folders to the session library (Unit1.cpp) ---
    void addToLibrary(const QStringList& folders);
    void onLibraryProgress(qint64 done, qint64 total);
    void onLibraryAdded(const lorvane::app::LibraryAddReport& report);
    // A load or a lap choice runs: commands wait for it.
    bool busy() const { return loading() || workspace_.session().busy(); }

    // --- drawing a snapshot (main_window_draw.cpp) ---
    void draw();
    void drawLog(const lorvane::LogView* view);
    void drawLapList(const lorvane::LoadedLog* log);
    void drawAnalysis(const lorvane::LapAnalysis& a);
    void drawLaps();
    void drawControls();
    void setLoading(bool on);
    void showLap(int row);
    std::int32_t selectedRow() const;
    void onChartCursor(std::optional<double> distance);
    void onTrackMouse(QMouseEvent* event);
    void markCursor(std::optional<double> distance);
    // The hover read-out in the status bar, and the text it covered.
    void showHoverText(const QString& text);
    void clearHoverText();
    // --- the chart's channels, the track's colours, saving plots (main_window_channels.cpp) ---
    struct ChartState;
    void buildChartMenus();
    void fillChartMenus(std::shared_ptr<const lorvane::Track> track);
    void drawChannels();
    // The chosen channels to and from the settings (the derived speed by a name of its own).
    void rememberChosenChannels();
    void restoreChosenChannels(const QStringList& names);
    void savePlotAs(bool chart);
    std::shared_ptr<ChartState> chart_;

    lorvane::app::Prompts& prompts_;
    lorvane::Workspace workspace_;
    lorvane::app::LoadWorker worker_;
    TAddToDatabaseForm* addToDatabase_ = nullptr;
    TAddCountryForm* addCountry_ = nullptr;
    TCircuitsForm* circuits_ = nullptr;
    TSessionsForm* sessions_ = nullptr;
    lorvane::app::LibraryWorker libraryWorker_;

    bool activatedOnce_ = false;
    PlaceMode placeMode_ = PlaceMode::None;
    QString hoverText_, beforeHover_;
    // The loaded log a lap choice is running on, until its file is saved.
    std::shared_ptr<const lorvane::LoadedLog> pickLog_;
    // The reference file the table was drawn with.
    std::shared_ptr<const lorvane::LapTrace> drawnReference_;
    // What is drawn: the view of the list, the table and the gates, and the
    // laps the chart and the hover read-out are about.
    std::shared_ptr<const lorvane::LogView> drawnView_;
    const lorvane::LoadedLog* listLog_ = nullptr;
    std::int32_t shownLap_ = 0, shownCompare_ = 0;
    // The status line shows a message of the window's own (a prompt to
    // click the track, a note) rather than the snapshot's.
    bool ownStatus_ = false;
    lorvane::app::AppSettings* settings_ = nullptr; // none: nothing stays
    lorvane::Units units_;
    QStringList recentLogs_;

    // --- the controls, by their object names ---
    QPushButton* LoadGXR;
    lorvane::display::TrackPlot* Chart1;
    QLabel* FileNameLabel;
    QLabel* CircuitNumberLabel;
    QLabel* Label10;
    QLabel* Label11;
    QLabel* DoubleClickLabel;
    TLapListBox* LapTimeBox;
    QPushButton* LoadZLG;
    QPushButton* loadwmx;
    QLabel* DoubleClickLabel2;
    lorvane::display::LapChart* Chart2;
    QCheckBox* FixRefCheckBox;
    // Lap against lap: the lap compared with the selected one (first entry: none).
    QComboBox* CompareBox = nullptr;
    // The lap table and, under it, the theoretical best, in a dock beside the client area.
    QDockWidget* LapDock = nullptr;
    QTableView* LapTable = nullptr;
    lorvane::display::LapTableModel* lapModel_ = nullptr;
    QLabel* BestLabel = nullptr;
    QProgressBar* ProgressBar;
    QLabel* StatusLabel;
    // Offers the rules that join laps that look split, after a load or a re-cut.
    QPushButton* SplitFixButton;
    // Stops an add to the library; shown while one runs.
    QPushButton* CancelAddButton = nullptr;

    QAction* actLoadGXR;
    QAction* actLoadZLG;
    QAction* actLoadWmx;
    QAction* actLoadLog; // a log of any format we read, found from its content
    QAction* actQuit;
    QAction* actNewCountry;
    QAction* actAddToDatabase;
    QAction* actCircuits = nullptr;
    QAction* actSessions = nullptr;
    QAction* actCancelAdd = nullptr; // Escape, while an add to the library runs
    QAction* actAbout;
    QAction* actGateRules;
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
    QMenu* RecentMenu = nullptr;
    QAction* actClearRecent = nullptr;
    QAction* actPreferences = nullptr;
};
