// The Sessions window: the circuits of the session library, the sessions of
// the chosen one with a chart of their best laps over time, the fastest lap
// ever at the circuit, and the laps of a session to open, compare with or
// write as a reference file. It asks the main window through its signals.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QPointF>
#include <QWidget>

#include "library/session_library.h"

class QCustomPlot;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace lorvane::app {
class Prompts;
}

class TSessionsForm : public QWidget {
    Q_OBJECT
public:
    explicit TSessionsForm(lorvane::app::Prompts& prompts, QWidget* parent = nullptr);

    QListWidget* CircuitList;   // circuits with sessions; the name in Qt::UserRole
    QTableWidget* SessionTable; // date, file, laps, best, theoretical best; the id in Qt::UserRole
    QCustomPlot* BestChart;     // the best lap of each session over time
    QListWidget* LapList;       // the laps of the chosen session; the lap number in Qt::UserRole
    QPushButton* OpenButton;
    QPushButton* UseRefButton;
    QPushButton* CompareButton;
    QPushButton* BestEverButton;
    QLabel* BestEverLabel;
    QPushButton* WriteRefButton; // writes the fastest lap ever as a reference file
    QPushButton* CloseButton;
    QLabel* StatusLabel;

    // The database shown; empty: the user's default one.
    void setCircuitDbPath(const std::string& path) { dbPath_ = path; }

    QString selectedCircuit() const;
    std::optional<std::int64_t> selectedSession() const;

public slots:
    // Reads the library again (the chosen circuit and session kept where they
    // still exist).
    void refresh();
    void OpenClick();
    void UseRefClick();
    void CompareClick();
    void BestEverClick();
    void WriteRefClick();

signals:
    void openSession(const lorvane::StoredSession& session);
    void useLap(const lorvane::StoredSession& session, std::int32_t lap, bool asCompared);
    void writeRefFile(const lorvane::StoredSession& session, std::int32_t lap);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::optional<lorvane::SessionLibrary> openLibrary();
    void circuitChanged();
    void sessionChanged();
    void drawChart(const std::vector<lorvane::StoredSession>& sessions);
    void useSelectedLap(bool asCompared);
    void clearBestEver();

    lorvane::app::Prompts& prompts_;
    std::string dbPath_;
    std::optional<lorvane::BestLapEntry> bestEver_; // shown by Best lap ever
    // The chart's points (date, best lap) by session, for the chosen one's mark.
    std::vector<std::pair<std::int64_t, QPointF>> chartPoints_;
};
