// Form1, the main window: the three load buttons, the lap list, the track
// plot and the reference-lap option. Every handler asks the user, calls the
// session and shows what it reports; logs are read on a worker thread while
// the window stays responsive.
#pragma once

#include <optional>
#include <vector>

#include <QListWidget>
#include <QMainWindow>

#include "analysis/lap_analysis.h"
#include "gui/app/load_worker.h"
#include "gui/display/lap_table_model.h"
#include "session/session.h"

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

    // Loads files as if each had been chosen in the dialog of its button
    // (.gxr, .zlg, .wmx by extension): what a drop onto the window does.
    void openFiles(const QStringList& paths);

    bool loading() const { return worker_.running(); }

    // Size of the client area at its smallest; the controls keep their positions
    // in it, and the window is this plus the menu bar and the status bar.
    static constexpr int kClientWidth = 803;
    static constexpr int kClientHeight = 652;
    // The strip chart lies below that, and the window opens tall enough for it.
    static constexpr int kStripHeight = 170;
    static constexpr int kStripGap = 8;
    static constexpr int kOpenClientHeight = kClientHeight + kStripHeight + kStripGap;
    // The smallest the client area gets: it fits a 1000-pixel-high screen at
    // 150 % scaling.
    static constexpr int kMinClientWidth = 600;
    static constexpr int kMinClientHeight = 440;

    // Controls, by their object names.
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
    QLabel* BestLabel = nullptr;

    // File > Export lap as CSV / GPX: the selected lap's path.
    QAction* actExportCsv = nullptr;
    QAction* actExportGpx = nullptr;
    void exportLap(bool gpx);

    // The lap the selected one is compared with (0: none).
    void compareWith(std::int32_t lap);
    std::int32_t comparedLap() const { return compareLap_; }
    const lorvane::LapAnalysis& analysis() const { return lapModel_->analysis(); }

    QProgressBar* ProgressBar;
    QLabel* StatusLabel;

    QAction* actLoadGXR;
    QAction* actLoadZLG;
    QAction* actLoadWmx;
    QAction* actLoadLog; // a log of any format we read, found from its content
    QAction* actQuit;
    QAction* actNewCountry;
    QAction* actAddToDatabase;
    QAction* actCircuits = nullptr;
    QAction* actAbout;
    QAction* actGateRules;
    // Offers the rules that join laps that look split, after a load or a re-cut.
    QPushButton* SplitFixButton;

    // The rules later loads use; the loaded log's laps are cut again with
    // them at once.
    void applyGateRules(const lorvane::GateRules& rules);

    // --- the circuit database and lines placed on the map ---
    // The circuit database a log's circuit is looked up in (empty: the
    // user's own). When it holds circuits, the logs may be loaded without a
    // start/finish file.
    void setCircuitDbPath(const std::string& path);
    enum class PlaceMode { None, Start, Finish, Split };
    // Until a click on the track, or another mode: which line a click places.
    void setPlaceMode(PlaceMode mode);
    PlaceMode placeMode() const { return placeMode_; }
    // Places the line of the current mode across the track at the sample
    // nearest to `point`, and cuts the laps again.
    void placeLineAt(const lorvane::LocalPoint& point);
    void removeFinishLine();
    // Moves a gate's point 1 (handle 0 the start gate, then the finish gate
    // when there is one, then the split lines) to the track sample nearest to
    // `point`, its point 2 along the direction of travel there.
    void moveLineTo(int handle, const lorvane::LocalPoint& point);
    // File > Save start/finish file: the gates in force as a .gxr.
    void saveStartFinishFile();
    QAction* actSaveStartFinish = nullptr;
    QAction* actPlaceStart = nullptr;
    QAction* actPlaceFinish = nullptr;
    QAction* actAddSplit = nullptr;
    QAction* actRemoveFinish = nullptr;

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

    void buildControls(QWidget* client);
    void buildMenus();
    void layoutClient(const QSize& size);

    void loadStartFinish(const QString& path);
    void loadAnyLog(const QString& path);
    void enableLogLoads();
    void closeAfterCancel();
    void startLoad(lorvane::LogKind kind, const QString& path);
    void onBatch(const lorvane::app::LoadBatch& batch);
    void onLoadFinished(const lorvane::LoadReport& report);
    void setLoading(bool on);
    void onPicked(const lorvane::ReferenceLap& ref);
    void onPickFailed(const lorvane::Diagnostic& error);
    void saveLapRefFile(const lorvane::ReferenceLap& ref);
    void showError(const lorvane::Diagnostic& d);
    void showLap(int row);
    QString summary(const lorvane::LoadReport& report) const;
    void showAbout();
    void editGateRules();
    // Cuts the loaded log's laps again with the start/finish file and rules
    // now in force, and shows them.
    void recutLoaded();
    // The loaded log's laps in the list, its gates on the plot, the summary.
    // `keep`: the lap (from 1) to keep selected when there is one.
    void showLaps(const lorvane::LoadedLog& log, std::int32_t keep = 0);
    void showGates(const lorvane::LoadedLog& log);
    void showSplitHint(const lorvane::LoadedLog& log);

    // The circuit database and lines placed on the map.
    void buildLineMenus(QMenu* file, QMenu* laps);
    void enableLogLoadsIfCircuits();
    // After a load without a start/finish file: the circuit from the database.
    void findCircuitForLoaded();
    // `rules`: gate rules to put in force with the lines.
    void usePlacedLines(lorvane::StartFinishFile file,
                        const std::optional<lorvane::GateRules>& rules = std::nullopt);
    // The gate across the track at the sample nearest to `point`; nothing
    // (and a word in the status bar) when there is none.
    std::optional<lorvane::Gate> gateNear(const lorvane::LocalPoint& point);
    void showPlacedLines(const lorvane::LoadedLog& log);

    lorvane::Session& session_;
    lorvane::app::Prompts& prompts_;
    lorvane::app::LoadWorker worker_;
    TAddToDatabaseForm* addToDatabase_ = nullptr;
    TAddCountryForm* addCountry_ = nullptr;
    TCircuitsForm* circuits_ = nullptr;

    bool activatedOnce_ = false;
    bool logLoadsEnabled_ = false;
    std::optional<lorvane::GateRules> splitRemedy_;
    // The rules in force before a finish line was placed on the map: removing
    // the line puts them back (a fix for the laps it split goes with it).
    std::optional<lorvane::GateRules> rulesBeforeFinish_;
    // Lines were placed on the map and not saved since.
    bool linesUnsaved_ = false;
    // The hover read-out in the status bar, and the text it covered.
    QString hoverText_, beforeHover_;
    void showHoverText(const QString& text);
    void clearHoverText();
    // The loaded log a lap choice is running on, until its file is saved.
    std::shared_ptr<const lorvane::LoadedLog> pickLog_;
    QString startFinishNote_; // about the latest start/finish file choice
    std::string circuitDbPath_;
    // The start/finish lines in force came from the database lookup: the
    // next log is looked up again.
    bool circuitFromDb_ = false;
    PlaceMode placeMode_ = PlaceMode::None;

    // --- lap analysis ---
    void buildAnalysisControls();
    void layoutStrip(int chartLeft, int chartWidth, int top, int height);
    // The table, the best sectors and the compare choice for the loaded log.
    void showAnalysis(const lorvane::LoadedLog& log);
    // The selected and compared laps on the chart and the track.
    void showLapTraces();
    std::shared_ptr<const lorvane::LapTrace> traceOf(std::int32_t lap);
    std::int32_t selectedLap() const;
    void onChartCursor(std::optional<double> distance);
    void onTrackMouse(QMouseEvent* event);
    void markCursor(std::optional<double> distance);
    int lapListWidth() const;
    // Widens the lap table's dock until every column is in view.
    void fitLapTable();

    lorvane::display::LapTableModel* lapModel_ =
        nullptr; // the lap table's rows and the analysis behind them
    std::shared_ptr<const lorvane::LoadedLog>
        analysed_; // the log the analysis and traces_ belong to
    std::vector<std::shared_ptr<const lorvane::LapTrace>>
        traces_; // by lap number - 1, filled as asked
    std::int32_t compareLap_ = 0;
    // The laps the chart and the hover read-out are about.
    std::int32_t shownLap_ = 0, shownCompare_ = 0;
};
