// The main window draws the workspace's snapshot: the lap list, the gates on
// the track, the lap table, the selected and compared laps, the controls and
// the status line. What the snapshot has not changed is not drawn again.
#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>

#include <qcustomplot.h>

#include "gui/app/Unit1.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"
#include "laps/lap_time_text.h"

using lorvane::display::seconds;

namespace {

constexpr int kFirstSampleRole = Qt::UserRole;
constexpr int kLastSampleRole = Qt::UserRole + 1;

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QListWidgetItem* lapItem(const lorvane::Lap& lap, QListWidget* list) {
    auto* item = new QListWidgetItem(text(lap.line), list);
    // The lap's samples, for its highlight on the track.
    item->setData(kFirstSampleRole, lap.startSample);
    item->setData(kLastSampleRole, lap.endSample);
    item->setSizeHint(QSize(0, 13));
    return item;
}

} // namespace

const lorvane::LapAnalysis& TForm1::analysis() const {
    static const lorvane::LapAnalysis none;
    return snapshot().view ? snapshot().view->analysis : none;
}

void TForm1::draw() {
    const lorvane::Snapshot& s = snapshot();
    if (s.view != drawnView_ || s.referenceFile != drawnReference_) {
        drawnView_ = s.view;
        drawnReference_ = s.referenceFile;
        drawLog(s.view.get());
    }
    drawLaps();
    drawControls();
    if (!ownStatus_) {
        const QString status = text(s.status);
        // A hover read-out stays over it until the mouse leaves.
        if (!hoverText_.isEmpty() && StatusLabel->text() == hoverText_)
            beforeHover_ = status;
        else
            StatusLabel->setText(status);
    }
}

void TForm1::drawLog(const lorvane::LogView* view) {
    const lorvane::LoadedLog* log = view ? view->log.get() : nullptr;
    drawLapList(log);
    if (log) {
        if (log->hasBase)
            Chart1->setMarkers(log->report.startMarker, log->report.finishMarker);
        else
            Chart1->setMarkers(std::nullopt, std::nullopt);
        Chart1->setGateLines(view->gateLines);
        Chart1->setGateHandles(view->gateHandles);
    }
    drawAnalysis(view ? view->analysis : lorvane::LapAnalysis{});
}

void TForm1::drawLapList(const lorvane::LoadedLog* log) {
    listLog_ = log;
    const QSignalBlocker quiet(LapTimeBox);
    const int laps = log ? static_cast<int>(log->laps.size()) : 0;
    // The lines a load streamed in are these laps' already: only their
    // samples are set again.
    bool same = LapTimeBox->count() == laps;
    for (int i = 0; same && i < laps; ++i)
        same = LapTimeBox->item(i)->text() == text(log->laps[static_cast<std::size_t>(i)].line);
    if (!same) {
        LapTimeBox->clear();
        for (int i = 0; i < laps; ++i) lapItem(log->laps[static_cast<std::size_t>(i)], LapTimeBox);
    } else {
        for (int i = 0; i < laps; ++i) {
            const lorvane::Lap& lap = log->laps[static_cast<std::size_t>(i)];
            LapTimeBox->item(i)->setData(kFirstSampleRole, lap.startSample);
            LapTimeBox->item(i)->setData(kLastSampleRole, lap.endSample);
        }
    }
}

void TForm1::drawAnalysis(const lorvane::LapAnalysis& a) {
    const lorvane::LoadedLog* log = snapshot().log();
    const lorvane::Snapshot& s = snapshot();
    lapModel_->reset(a, log ? log->bestLap : 0,
                     log ? log->bestLapTime : lorvane::LapSegmenter::kNoBest,
                     s.referenceFile ? std::optional<double>(s.referenceTime) : std::nullopt);
    // Laid out now, so that the selected lap can be scrolled to at once, and
    // wide enough for every column.
    LapTable->doItemsLayout();
    fitLapTable();

    CompareBox->clear();
    CompareBox->addItem(tr("Compare with..."), 0);
    for (const lorvane::LapSummary& l : a.laps)
        if (l.traced)
            CompareBox->addItem(
                tr("Lap %1: %2").arg(l.lap).arg(text(lorvane::convertRealtoUTC(l.time))), l.lap);

    QStringList holders;
    for (int k = 0; k < static_cast<int>(a.table.best.size()); ++k) {
        const auto& b = a.table.best[static_cast<std::size_t>(k)];
        holders << (b ? tr("S%1 lap %2 (%3)").arg(k + 1).arg(b->lap).arg(seconds(b->time))
                      : tr("S%1 none").arg(k + 1));
    }
    if (a.laps.empty()) {
        BestLabel->clear();
    } else if (a.table.theoreticalBest) {
        BestLabel->setText(tr("Theoretical best: %1 (%2)")
                               .arg(text(lorvane::convertRealtoUTC(*a.table.theoreticalBest)),
                                    holders.join(QStringLiteral(", "))));
    } else {
        BestLabel->setText(tr("Theoretical best: none, a sector has no time (%1)")
                               .arg(holders.join(QStringLiteral(", "))));
    }
    // The list's lines may have grown wider (lap 1000 on).
    layoutClient(centralWidget()->size());
    // The table's height as it will be under the new best line, for the
    // scroll to the selected lap.
    if (QLayout* l = LapDock->widget()->layout()) l->activate();
}

void TForm1::drawLaps() {
    const lorvane::Snapshot& s = snapshot();
    if (s.view) {
        const QSignalBlocker quiet(LapTimeBox);
        const int row = s.selectedLap - 1;
        if (LapTimeBox->currentRow() != row) LapTimeBox->setCurrentRow(row);
        if (const QListWidgetItem* item = row >= 0 ? LapTimeBox->item(row) : nullptr)
            Chart1->highlightSamples(item->data(kFirstSampleRole).toInt(),
                                     item->data(kLastSampleRole).toInt());
        else
            Chart1->clearHighlight();
    }
    // With a reference file open, the selected lap is compared with its lap.
    // A lap from another session may instead be drawn against the selected one.
    const bool refFile = s.referenceFile != nullptr;
    const bool swapped = refFile && s.referenceIsCompared;
    const auto& ref = !refFile ? s.selected : swapped ? s.selected : s.referenceFile;
    const auto& cmp = !refFile ? s.compared : swapped ? s.referenceFile : s.selected;
    Chart2->setLaps(ref, cmp);
    drawChannels();
    CompareBox->setEnabled(!refFile);
    actExportCsv->setEnabled(s.selected != nullptr);
    actExportGpx->setEnabled(s.selected != nullptr);
    auto path = [](const std::shared_ptr<const lorvane::LapTrace>& t) {
        std::vector<lorvane::LocalPoint> p;
        if (!t) return p;
        p.reserve(t->points.size());
        for (const lorvane::TracePoint& q : t->points)
            p.push_back(lorvane::LocalPoint{q.east, q.north});
        return p;
    };
    Chart1->setLapPaths(path(ref), path(cmp));
    const int index = CompareBox->findData(!refFile && cmp ? cmp->lap : 0);
    CompareBox->setCurrentIndex(std::max(0, index));
    const std::int32_t row = s.selected ? s.selected->lap : 0;
    if (lapModel_->rowCount() > 0 && row > 0 && row <= lapModel_->rowCount()) {
        const QSignalBlocker quiet(LapTable);
        LapTable->selectRow(row - 1);
        // Into view, well inside it: the table may yet lose a few pixels.
        const QModelIndex at = lapModel_->index(row - 1, 0);
        if (!LapTable->viewport()->rect().contains(LapTable->visualRect(at)))
            LapTable->scrollTo(at, QAbstractItemView::PositionAtCenter);
    }
    // Another lap, or another lap compared: what the cursor read out was
    // about the laps before.
    const std::int32_t shown = ref ? (refFile && !swapped ? -1 : ref->lap) : 0,
                       compared = cmp ? (swapped ? -1 : cmp->lap) : 0;
    if (shown != shownLap_ || compared != shownCompare_) {
        shownLap_ = shown;
        shownCompare_ = compared;
        Chart2->setCursorDistance(std::nullopt);
        clearHoverText();
    }
    markCursor(Chart2->cursorDistance());
}

void TForm1::drawControls() {
    const lorvane::Snapshot& s = snapshot();
    const bool busy = loading();
    LoadGXR->setEnabled(!busy);
    actLoadGXR->setEnabled(!busy);
    actGateRules->setEnabled(!busy);
    const bool logs = !busy && s.logLoadsEnabled;
    LoadZLG->setEnabled(logs);
    loadwmx->setEnabled(logs);
    actLoadZLG->setEnabled(logs);
    actLoadWmx->setEnabled(logs);
    actLoadLog->setEnabled(logs);
    actRemoveSplit->setEnabled(!busy && !s.startFinish.splits.empty());
    actCloseReference->setEnabled(!busy && s.referenceFile != nullptr);
    const lorvane::LogView* v = s.view.get();
    if (!busy && v && v->split && v->split->remedy) {
        SplitFixButton->setText(text(lorvane::remedyCaption(*v->split, v->log->rules)));
        SplitFixButton->show();
    } else {
        SplitFixButton->hide();
    }
}

void TForm1::setLoading(bool on) {
    drawControls();
    ProgressBar->setRange(0, 1000);
    ProgressBar->setValue(0);
    ProgressBar->setVisible(on);
    if (on) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TForm1::onBatch(const lorvane::app::LoadBatch& batch) {
    Chart1->appendTrack(batch.points);
    {
        const QSignalBlocker quiet(LapTimeBox);
        for (const auto& ev : batch.laps) {
            lapItem(ev.lap, LapTimeBox);
            if (ev.best) {
                LapTimeBox->setCurrentRow(LapTimeBox->count() - 1);
                Chart1->highlightSamples(ev.lap.startSample, ev.lap.endSample);
            }
        }
    }
    // Lap 1000 on needs a wider list: laid out as the lap arrives, so the
    // end of the load does not resize (and repaint) the plots once more.
    if (!batch.laps.empty() && lapListWidth() != LapTimeBox->width())
        layoutClient(centralWidget()->size());
    if (batch.total > 0) {
        const double share = static_cast<double>(batch.done) / static_cast<double>(batch.total);
        ProgressBar->setRange(0, 1000);
        ProgressBar->setValue(static_cast<int>(std::clamp(share, 0.0, 1.0) * 1000));
    } else if (batch.done > 0) {
        ProgressBar->setRange(0, 0); // a pipe or the like: size unknown, just busy
    }
}

std::int32_t TForm1::selectedRow() const {
    const int row = LapTimeBox->currentRow();
    return row >= 0 ? row + 1 : 0;
}

void TForm1::showLap(int row) {
    if (!snapshot().view) {
        // During a load: the lap's samples on the track, nothing more yet.
        if (const QListWidgetItem* item = row >= 0 ? LapTimeBox->item(row) : nullptr)
            Chart1->highlightSamples(item->data(kFirstSampleRole).toInt(),
                                     item->data(kLastSampleRole).toInt());
        else
            Chart1->clearHighlight();
        return;
    }
    workspace_.selectLap(row + 1);
    draw();
}

// --- the linked cursor and the hover read-out ---------------------------------------------

void TForm1::showHoverText(const QString& hover) {
    if (hoverText_.isEmpty() || StatusLabel->text() != hoverText_)
        beforeHover_ = StatusLabel->text();
    hoverText_ = hover;
    StatusLabel->setText(hover);
}

void TForm1::clearHoverText() {
    if (!hoverText_.isEmpty() && StatusLabel->text() == hoverText_)
        StatusLabel->setText(beforeHover_);
    hoverText_.clear();
    beforeHover_.clear();
}

void TForm1::markCursor(std::optional<double> distance) {
    const lorvane::LapTrace* ref = Chart2->reference();
    if (!distance || !ref) {
        Chart1->setCursorPoint(std::nullopt);
        return;
    }
    Chart1->setCursorPoint(lorvane::positionAtDistance(*ref, *distance));
}

void TForm1::onChartCursor(std::optional<double> distance) {
    markCursor(distance);
    if (distance) showHoverText(Chart2->cursorText());
}

void TForm1::onTrackMouse(QMouseEvent* event) {
    const lorvane::LapTrace* ref = Chart2->reference();
    if (!ref || event->buttons() != Qt::NoButton) return;
    // The nearest point of the selected lap to the mouse, within 20 pixels.
    const QPointF pos = event->position();
    double bestPx = 20.0 * 20.0;
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < ref->points.size(); ++i) {
        const lorvane::TracePoint& p = ref->points[i];
        const double dx = Chart1->xAxis->coordToPixel(p.east) - pos.x();
        const double dy = Chart1->yAxis->coordToPixel(p.north) - pos.y();
        const double d2 = dx * dx + dy * dy;
        if (d2 < bestPx) {
            bestPx = d2;
            best = i;
        }
    }
    const std::optional<double> at = best ? std::optional<double>(ref->points[*best].distance)
                                          : std::nullopt;
    if (at == Chart2->cursorDistance()) return;
    Chart2->setCursorDistance(at);
    markCursor(at);
    if (at) showHoverText(Chart2->cursorText());
}
