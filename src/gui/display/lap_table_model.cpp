#include "gui/display/lap_table_model.h"

#include <QColor>
#include <QFont>

#include "laps/lap_time_text.h"

namespace lorvane::display {

QString seconds(double s) {
    return QString::number(s, 'f', 3);
}

QString signedSeconds(double s) {
    return (s >= 0 ? QStringLiteral("+") : QString()) + QString::number(s, 'f', 3);
}

void LapTableModel::reset(LapAnalysis analysis, std::int32_t bestLap, double bestLapTime,
                          std::optional<double> referenceTime) {
    beginResetModel();
    analysis_ = std::move(analysis);
    bestLap_ = bestLap;
    bestLapTime_ = bestLapTime;
    referenceTime_ = referenceTime;
    endResetModel();
}

void LapTableModel::setUnits(const Units& units) {
    if (units == units_) return;
    units_ = units;
    const int last = columnCount() - 1;
    if (last >= 0) {
        emit headerDataChanged(Qt::Horizontal, last - 1, last);
        if (rowCount() > 0) emit dataChanged(index(0, last - 1), index(rowCount() - 1, last));
    }
}

int LapTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(analysis_.laps.size());
}

int LapTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3 + analysis_.sectorCount + 2;
}

bool LapTableModel::isBest(int row, int column) const {
    if (row < 0 || row >= rowCount()) return false;
    const LapSummary& l = analysis_.laps[static_cast<std::size_t>(row)];
    if (column == 1) return l.lap == bestLap_;
    const int k = column - sectorColumn(0);
    if (k < 0 || k >= analysis_.sectorCount) return false;
    const auto& bests = analysis_.table.best;
    const auto uk = static_cast<std::size_t>(k);
    return uk < l.sectors.size() && l.sectors[uk] && uk < bests.size() && bests[uk] &&
           bests[uk]->lap == l.lap;
}

QVariant LapTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const int row = index.row(), column = index.column();
    switch (role) {
    case Qt::DisplayRole: {
        const LapSummary& l = analysis_.laps[static_cast<std::size_t>(row)];
        const int n = analysis_.sectorCount;
        if (column == 0) return QString::number(l.lap);
        if (column == 1) return QString::fromStdString(convertRealtoUTC(l.time));
        if (column == 2) {
            if (referenceTime_) return signedSeconds(l.time - *referenceTime_);
            return l.lap == bestLap_ ? QString() : signedSeconds(l.time - bestLapTime_);
        }
        if (column < 3 + n) {
            const auto k = static_cast<std::size_t>(column - 3);
            return k < l.sectors.size() && l.sectors[k] ? seconds(*l.sectors[k]) : QString();
        }
        if (!l.traced) return QString();
        return column == 3 + n ? QString::number(units_.speedFromKmh(l.maxSpeed), 'f', 1)
                               : QString::number(units_.distanceFromMetres(l.distance), 'f', 0);
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    case Qt::FontRole:
        if (isBest(row, column)) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    case Qt::BackgroundRole:
        if (isBest(row, column)) return QColor(0xC8, 0xF0, 0xC8);
        return {};
    case Qt::ToolTipRole:
        if (column >= 3 && isBest(row, column)) return tr("Best of this sector");
        return {};
    default: return {};
    }
}

QVariant LapTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    const int n = analysis_.sectorCount;
    if (section == 0) return tr("Lap");
    if (section == 1) return tr("Time");
    if (section == 2) return referenceTime_ ? tr("vs REF") : tr("Delta");
    if (section < 3 + n) return tr("S%1").arg(section - 2);
    if (section == 3 + n) return tr("Top %1").arg(QString::fromLatin1(units_.speedLabel()));
    if (section == 4 + n) return tr("Dist %1").arg(QString::fromLatin1(units_.distanceLabel()));
    return {};
}

} // namespace lorvane::display
