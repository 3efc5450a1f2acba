// The lap table as a model: per lap its time, delta to the fastest, sector
// times (the best of each sector marked), top speed and distance. Cells are
// made when the view asks for them, so a log of a thousand laps costs no
// more to show than one of ten.
#pragma once

#include <cstdint>
#include <optional>

#include <QAbstractTableModel>

#include "analysis/lap_analysis.h"
#include "analysis/units.h"

namespace lorvane::display {

class LapTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // A new analysis; `bestLap` (from 1) and its time give the delta column,
    // or, when a reference file is open, its lap time (the column is then
    // "vs REF" and every lap has a delta).
    void reset(LapAnalysis analysis, std::int32_t bestLap, double bestLapTime,
               std::optional<double> referenceTime = std::nullopt);
    const LapAnalysis& analysis() const { return analysis_; }
    // The units of the top speed and distance columns (km/h and metres at first).
    void setUnits(const Units& units);
    const Units& units() const { return units_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Column of sector k (from 0).
    static int sectorColumn(int k) { return 3 + k; }
    // True when the cell holds the best time of its sector (or the fastest lap's time).
    bool isBest(int row, int column) const;

private:
    LapAnalysis analysis_;
    std::int32_t bestLap_ = 0;
    double bestLapTime_ = 0;
    std::optional<double> referenceTime_;
    Units units_;
};

// Seconds with three decimals, and the same signed ("+0.634").
QString seconds(double s);
QString signedSeconds(double s);

} // namespace lorvane::display
