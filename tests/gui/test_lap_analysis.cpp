// Lap analysis in the window: the speed trace in the strip chart, one lap
// against another on the track and the chart, the cursor linked between
// them, and the lap table with its best sectors.
#include <QComboBox>
#include <QDockWidget>
#include <QFont>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QtTest/QTest>

#include "analysis/lap_delta.h"
#include "gui/app/Unit1.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"
#include "gui_support.h"
#include "session/session.h"

using guitest::ScriptedPrompts;
using guitest::SessionFiles;

namespace {

struct Window : guitest::MainWindow {
    // The centre of row `row` of the lap list.
    QPoint rowCentre(int row) const {
        return guitest::ui(form).LapTimeBox->visualItemRect(guitest::ui(form).LapTimeBox->item(row)).center();
    }
};

// The slowest lap other than `not`.
int slowestLap(const lorvane::Session& s, int notLap) {
    int slow = 0;
    double t = -1;
    for (const auto& l : s.laps())
        if (l.number != notLap && l.time > t) {
            t = l.time;
            slow = l.number;
        }
    return slow;
}

} // namespace

class TestLapAnalysis : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<lorvane::LoadReport>(); }
    void speedTraceOfTheSelectedLap();
    void chartThinsToItsPixels();
    void lapAgainstLap();
    void cursorLinksChartAndTrack();
    void lapTableAndTheoreticalBest();
    void tableFollowsARecut();
    void tableOfManyLaps();
    void exportWritesTheSelectedLap();
    void anOpenedReferenceFileIsComparedWith();
    void screenshot();
};

void TestLapAnalysis::speedTraceOfTheSelectedLap() {
    SessionFiles files(guitest::sessionOptions(71, 4, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const int best = w.session.loaded()->bestLap;
    QVERIFY(best > 0);
    // The fastest lap is chosen, and the chart shows its speed along the lap.
    const lorvane::LapTrace* ref = guitest::ui(w.form).Chart2->reference();
    QVERIFY(ref);
    QCOMPARE(ref->lap, best);
    QVERIFY(guitest::ui(w.form).Chart2->isVisible());
    QVERIFY(guitest::ui(w.form).Chart2->referenceSpeed()->dataCount() > 10);
    QCOMPARE(guitest::ui(w.form).Chart2->comparedSpeed()->dataCount(), 0);
    QCOMPARE(guitest::ui(w.form).Chart2->xAxis->range().upper, ref->distance);
    QVERIFY(guitest::ui(w.form).Chart2->yAxis->range().upper > ref->maxSpeed);
    // Its path is drawn over the track, and the highlight lies above the red track.
    QCOMPARE(guitest::ui(w.form).Chart1->referencePath()->dataCount(), static_cast<int>(ref->points.size()));
    QCOMPARE(guitest::ui(w.form).Chart1->series(0)->layer()->name(), QStringLiteral("laps"));
    QVERIFY(guitest::ui(w.form).Chart1->series(0)->layer()->index() >
            guitest::ui(w.form).Chart1->series(1)->layer()->index());

    // Another lap in the list takes its place.
    const int other = best == 1 ? 2 : 1;
    guitest::ui(w.form).LapTimeBox->setCurrentRow(other - 1);
    QCOMPARE(guitest::ui(w.form).Chart2->reference()->lap, other);
    QCOMPARE(guitest::ui(w.form).Chart2->referenceSpeed()->name(), QStringLiteral("Series6"));
}

void TestLapAnalysis::chartThinsToItsPixels() {
    // A lap of 100,000 points drawn in a chart 300 pixels wide.
    std::vector<double> x, y;
    for (int i = 0; i < 100000; ++i) {
        x.push_back(i * 0.05);
        y.push_back(100 + 50 * std::sin(i * 0.001) + (i == 51234 ? 80 : 0));
    }
    QVector<double> tx, ty;
    lorvane::display::thinForColumns(x, y, 0, x.back(), 300, tx, ty);
    QVERIFY(tx.size() <= 300 + 2);
    QVERIFY(tx.size() > 100);
    // The peak is kept, the order along the distance too.
    QVERIFY(std::find(ty.begin(), ty.end(), y[51234]) != ty.end());
    QVERIFY(std::is_sorted(tx.begin(), tx.end()));
    // Zoomed in, it still holds the points either side of the range.
    lorvane::display::thinForColumns(x, y, 100.02, 100.13, 300, tx, ty);
    QVERIFY(!tx.isEmpty() && tx.front() <= 100.02 && tx.back() >= 100.13);

    SessionFiles files(guitest::sessionOptions(72, 3, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    w.form.resize(500, w.form.height());
    QTest::qWait(50);
    QVERIFY(guitest::ui(w.form).Chart2->referenceSpeed()->dataCount() <= guitest::ui(w.form).Chart2->width());
}

void TestLapAnalysis::anOpenedReferenceFileIsComparedWith() {
    SessionFiles files(guitest::sessionOptions(74, 5, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const auto log = w.session.loaded();
    const QString refPath = files.path(QStringLiteral("LAP.REF"));
    lorvane::saveLapRefFile(*log, lorvane::pickLap(*log, log->bestLap), guitest::toPath(refPath), false);
    const int slow = slowestLap(w.session, log->bestLap);
    guitest::ui(w.form).LapTimeBox->setCurrentRow(slow - 1);

    w.prompts.files << refPath;
    guitest::ui(w.form).actOpenReference->trigger();
    QCOMPARE(w.prompts.unexpected, 0);
    // The chart: the file's lap against the selected one, the delta ending at
    // their lap-time difference; the table's delta column against the file.
    const lorvane::LapTrace* ref = guitest::ui(w.form).Chart2->reference();
    const lorvane::LapTrace* cmp = guitest::ui(w.form).Chart2->compared();
    QVERIFY(ref && cmp);
    QCOMPARE(ref->lap, 0);
    QCOMPARE(cmp->lap, slow);
    const double end = (guitest::ui(w.form).Chart2->delta()->data()->constEnd() - 1)->value;
    const double diff = log->lap(slow)->time - log->bestLapTime;
    QVERIFY2(std::abs(end - diff) < 0.01, qPrintable(QString::number(end) + " vs " + QString::number(diff)));
    const QAbstractItemModel* table = guitest::ui(w.form).LapTable->model();
    QCOMPARE(table->headerData(2, Qt::Horizontal).toString(), QStringLiteral("vs REF"));
    QCOMPARE(table->index(log->bestLap - 1, 2).data().toString(), QStringLiteral("+0.000"));
    QVERIFY(!guitest::ui(w.form).CompareBox->isEnabled());
    QVERIFY(guitest::ui(w.form).Chart1->comparedPath()->dataCount() > 10);

    guitest::ui(w.form).actCloseReference->trigger();
    QCOMPARE(guitest::ui(w.form).Chart2->reference()->lap, slow);
    QCOMPARE(table->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Delta"));
    QVERIFY(guitest::ui(w.form).CompareBox->isEnabled());
}

void TestLapAnalysis::lapAgainstLap() {
    SessionFiles files(guitest::sessionOptions(73, 5, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const int best = w.session.loaded()->bestLap;
    const int slow = slowestLap(w.session, best);

    // Ctrl-click compares without moving the selection.
    QTest::mouseClick(guitest::ui(w.form).LapTimeBox->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      w.rowCentre(slow - 1));
    QCOMPARE(guitest::ui(w.form).LapTimeBox->currentRow(), best - 1);
    QCOMPARE(w.form.comparedLap(), slow);
    const lorvane::LapTrace* ref = guitest::ui(w.form).Chart2->reference();
    const lorvane::LapTrace* cmp = guitest::ui(w.form).Chart2->compared();
    QVERIFY(ref && cmp);
    QCOMPARE(ref->lap, best);
    QCOMPARE(cmp->lap, slow);
    QVERIFY(guitest::ui(w.form).Chart2->comparedSpeed()->dataCount() > 10);
    QVERIFY(guitest::ui(w.form).Chart1->comparedPath()->dataCount() > 10);
    QCOMPARE(guitest::ui(w.form).CompareBox->currentData().toInt(), slow);
    // The delta is on the right-hand axis and ends near the lap time difference:
    // positive, the compared lap being behind.
    QCPGraph* delta = guitest::ui(w.form).Chart2->delta();
    QVERIFY(delta->dataCount() > 10);
    QVERIFY(guitest::ui(w.form).Chart2->yAxis2->visible());
    const double end = (delta->data()->constEnd() - 1)->value;
    QVERIFY2(end > 0, qPrintable(QString::number(end)));
    const auto exact = lorvane::deltaAt(*cmp, *ref, std::min(cmp->distance, ref->distance));
    QVERIFY(exact && std::abs(*exact - end) < 0.05);

    // Ctrl-click again ends the comparison; the choice box starts one.
    QTest::mouseClick(guitest::ui(w.form).LapTimeBox->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      w.rowCentre(slow - 1));
    QCOMPARE(w.form.comparedLap(), 0);
    QCOMPARE(guitest::ui(w.form).Chart2->comparedSpeed()->dataCount(), 0);
    QCOMPARE(guitest::ui(w.form).Chart1->comparedPath()->dataCount(), 0);
    QCOMPARE(guitest::ui(w.form).Chart2->delta()->dataCount(), 0);
    const int index = guitest::ui(w.form).CompareBox->findData(slow);
    QVERIFY(index > 0);
    guitest::ui(w.form).CompareBox->setCurrentIndex(index);
    emit guitest::ui(w.form).CompareBox->activated(index);
    QCOMPARE(guitest::ui(w.form).Chart2->compared()->lap, slow);
}

void TestLapAnalysis::cursorLinksChartAndTrack() {
    SessionFiles files(guitest::sessionOptions(74, 3, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const lorvane::LapTrace* ref = guitest::ui(w.form).Chart2->reference();
    QVERIFY(ref);
    lorvane::display::LapChart* chart = guitest::ui(w.form).Chart2;

    // The mouse over the chart at a third of the lap marks that point on the track.
    chart->replot();
    const double d = ref->distance / 3;
    const QPoint at(static_cast<int>(chart->xAxis->coordToPixel(d)), chart->axisRect()->center().y());
    QTest::mouseMove(chart, at);
    QTRY_VERIFY(chart->cursorDistance().has_value());
    QVERIFY(std::abs(*chart->cursorDistance() - d) < ref->distance / 100);
    QCOMPARE(guitest::ui(w.form).Chart1->cursorMarker()->dataCount(), 1);
    const auto p = lorvane::positionAtDistance(*ref, *chart->cursorDistance());
    QCOMPARE(guitest::ui(w.form).Chart1->cursorMarker()->data()->constBegin()->key, p.east);
    // Distance, speed and time into the lap are shown.
    QVERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral(" m")));
    QVERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("km/h")));

    // The mouse over the track, on a point of the lap, marks the chart there.
    guitest::ui(w.form).Chart1->replot();
    const lorvane::TracePoint& q = ref->points[ref->points.size() * 2 / 3];
    const QPoint on(static_cast<int>(std::lround(guitest::ui(w.form).Chart1->xAxis->coordToPixel(q.east))),
                    static_cast<int>(std::lround(guitest::ui(w.form).Chart1->yAxis->coordToPixel(q.north))));
    QTest::mouseMove(guitest::ui(w.form).Chart1, on);
    QTRY_VERIFY(chart->cursorDistance().has_value());
    // The nearest point of the lap: within a few metres of the one under the mouse.
    const auto near = lorvane::positionAtDistance(*ref, *chart->cursorDistance());
    const double metresPerPx = guitest::ui(w.form).Chart1->xAxis->range().size() /
                               guitest::ui(w.form).Chart1->axisRect()->width();
    QVERIFY(std::hypot(near.east - q.east, near.north - q.north) <= 2 * metresPerPx);

    // The read-out was about that lap: another lap selected, or another lap
    // compared, takes it away.
    const QString summary = guitest::ui(w.form).StatusLabel->text();
    QVERIFY(summary.contains(QStringLiteral("km/h")));
    guitest::ui(w.form).LapTimeBox->setCurrentRow(ref->lap == 1 ? 1 : 0);
    QVERIFY(!guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("km/h")));
    QVERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("3 laps")));
    QVERIFY(!chart->cursorDistance());
    chart->replot();
    QTest::mouseMove(chart, at + QPoint(3, 0));
    QTRY_VERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("km/h")));
    w.form.compareWith(3);
    QVERIFY(!guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("km/h")));
    QCOMPARE(guitest::ui(w.form).Chart1->cursorMarker()->dataCount(), 0);
}

void TestLapAnalysis::lapTableAndTheoreticalBest() {
    SessionFiles files(guitest::sessionOptions(75, 5, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const auto log = w.session.loaded();
    const lorvane::LapAnalysis& a = w.form.analysis();
    const QAbstractItemModel* t = guitest::ui(w.form).LapTable->model();
    auto cell = [&](int row, int column, int role = Qt::DisplayRole) { return t->index(row, column).data(role); };
    QVERIFY(guitest::ui(w.form).LapDock->isVisible());
    QCOMPARE(t->rowCount(), static_cast<int>(log->laps.size()));
    QCOMPARE(t->columnCount(), 3 + a.sectorCount + 2);
    QCOMPARE(t->headerData(3, Qt::Horizontal).toString(), QStringLiteral("S1"));
    // The lap list's lines are untouched.
    for (int i = 0; i < guitest::ui(w.form).LapTimeBox->count(); ++i)
        QCOMPARE(guitest::ui(w.form).LapTimeBox->item(i)->text(), QString::fromStdString(log->laps[i].line));

    // Each best sector is marked, on its lap's row, and only there.
    for (int k = 0; k < a.sectorCount; ++k) {
        const auto& best = a.table.best[k];
        for (int row = 0; row < t->rowCount(); ++row) {
            const bool marked = cell(row, 3 + k, Qt::FontRole).value<QFont>().bold();
            QCOMPARE(marked, best && best->lap == row + 1);
            const auto& mine = a.laps[row].sectors[k];
            QCOMPARE(cell(row, 3 + k).toString().isEmpty(), !mine.has_value());
        }
    }
    // Delta to the fastest: empty on the fastest row, positive elsewhere.
    QVERIFY(cell(log->bestLap - 1, 2).toString().isEmpty());
    for (int row = 0; row < t->rowCount(); ++row)
        if (row != log->bestLap - 1) QVERIFY(cell(row, 2).toString().startsWith(u'+'));
    // The theoretical best and who holds each sector.
    QVERIFY(a.table.theoreticalBest);
    QVERIFY(*a.table.theoreticalBest <= log->bestLapTime + 1e-9);
    QVERIFY(guitest::ui(w.form).BestLabel->text().startsWith(QStringLiteral("Theoretical best: ")));
    QVERIFY(guitest::ui(w.form).BestLabel->text().contains(QStringLiteral("S1 lap %1").arg(a.table.best[0]->lap)));

    // A row of the table selects its lap.
    const int other = log->bestLap == 1 ? 2 : 1;
    emit guitest::ui(w.form).LapTable->clicked(t->index(other - 1, 0));
    QCOMPARE(guitest::ui(w.form).LapTimeBox->currentRow(), other - 1);
    QCOMPARE(guitest::ui(w.form).Chart2->reference()->lap, other);
}

void TestLapAnalysis::tableFollowsARecut() {
    SessionFiles files(guitest::sessionOptions(76, 4, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    QCOMPARE(guitest::ui(w.form).LapTable->model()->rowCount(), 4);
    const bool forward = w.session.crossings().front().forward;
    // Rules under which no lap is cut: the table and the chart empty at once.
    w.form.applyGateRules({forward ? lorvane::GateDirection::Reverse : lorvane::GateDirection::Forward, 15.0, 0});
    QCOMPARE(guitest::ui(w.form).LapTable->model()->rowCount(), 0);
    QVERIFY(!guitest::ui(w.form).Chart2->reference());
    QCOMPARE(guitest::ui(w.form).Chart1->referencePath()->dataCount(), 0);
    w.form.applyGateRules({lorvane::GateDirection::Both, 15.0, 0});
    QCOMPARE(guitest::ui(w.form).LapTable->model()->rowCount(), 4);
    QVERIFY(guitest::ui(w.form).Chart2->reference());
}

void TestLapAnalysis::tableOfManyLaps() {
    lorvane::gen::Options o = guitest::sessionOptions(78, 1200, false);
    o.samplesPerSecond = 2;
    SessionFiles files(o);
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    QTableView* table = guitest::ui(w.form).LapTable;
    const QAbstractItemModel* t = table->model();
    QCOMPARE(t->rowCount(), 1200);
    const int best = w.session.loaded()->bestLap;
    QVERIFY(best > 40); // far down the table
    QCoreApplication::processEvents();
    // The fastest lap's row is in view, and so is every column of it.
    const QRect view = table->viewport()->rect();
    for (int column : {0, t->columnCount() - 1})
        QVERIFY2(view.contains(table->visualRect(t->index(best - 1, column))),
                 qPrintable(QStringLiteral("column %1").arg(column)));

    // Ctrl-click on a row compares that lap; the selection stays.
    const int other = best == 1200 ? best - 1 : best + 1;
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      table->visualRect(t->index(other - 1, 1)).center());
    QCOMPARE(w.form.comparedLap(), other);
    QCOMPARE(guitest::ui(w.form).LapTimeBox->currentRow(), best - 1);
    QCOMPARE(table->selectionModel()->selectedRows().value(0).row(), best - 1);
    QCOMPARE(guitest::ui(w.form).Chart2->compared()->lap, other);
    // Again: no longer compared.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      table->visualRect(t->index(other - 1, 1)).center());
    QCOMPARE(w.form.comparedLap(), 0);
    QCOMPARE(guitest::ui(w.form).LapTimeBox->currentRow(), best - 1);
}

void TestLapAnalysis::exportWritesTheSelectedLap() {
    SessionFiles files(guitest::sessionOptions(77, 3, false));
    Window w;
    QVERIFY(!guitest::ui(w.form).actExportCsv->isEnabled());
    QVERIFY(w.load(files.gxr, files.zlg));
    QVERIFY(guitest::ui(w.form).actExportCsv->isEnabled() && guitest::ui(w.form).actExportGpx->isEnabled());
    const lorvane::LapTrace* ref = guitest::ui(w.form).Chart2->reference();
    QVERIFY(ref);

    w.prompts.clear();
    w.prompts.files << files.path(QStringLiteral("out.csv"));
    guitest::ui(w.form).actExportCsv->trigger();
    QCOMPARE(w.prompts.kinds(), QStringList{QStringLiteral("save")});
    QCOMPARE(w.prompts.asked[0].text, QStringLiteral("lap%1.csv").arg(ref->lap));
    const QList<QByteArray> rows = guitest::readAll(files.path(QStringLiteral("out.csv"))).split('\n');
    QCOMPARE(rows.size(), static_cast<int>(ref->points.size()) + 2); // header, rows, the empty piece after the last LF
    QCOMPARE(rows[0], QByteArray("distance,time,speed,east,north,latitude,longitude"));

    w.prompts.files << files.path(QStringLiteral("out.gpx"));
    guitest::ui(w.form).actExportGpx->trigger();
    const QByteArray gpx = guitest::readAll(files.path(QStringLiteral("out.gpx")));
    QCOMPARE(gpx.count("<trkpt "), static_cast<qsizetype>(ref->points.size()));

    // A file that cannot be written: an error box, the old file untouched.
    w.prompts.clear();
    w.prompts.files << files.path(QStringLiteral("no/such/folder/out.csv"));
    guitest::ui(w.form).actExportCsv->trigger();
    QCOMPARE(w.prompts.kinds(), (QStringList{QStringLiteral("save"), QStringLiteral("error")}));
    QCOMPARE(guitest::readAll(files.path(QStringLiteral("out.gpx"))), gpx);
}

// The README's picture: with LORVANE_SCREENSHOT=out.png and LORVANE_SAMPLES
// set to the samples folder, the demo session with the fastest lap against
// the slowest, the cursor a third of the way round.
void TestLapAnalysis::screenshot() {
    const QString out = qEnvironmentVariable("LORVANE_SCREENSHOT");
    const QString samples = qEnvironmentVariable("LORVANE_SAMPLES");
    if (out.isEmpty() || samples.isEmpty()) QSKIP("LORVANE_SCREENSHOT and LORVANE_SAMPLES not set");
    Window w;
    w.form.resize(1300, 900);
    QVERIFY(w.load(samples + QStringLiteral("/demo.gxr"), samples + QStringLiteral("/demo.zlg")));
    const int best = w.session.loaded()->bestLap;
    const int slow = slowestLap(w.session, best);
    QTest::mouseClick(guitest::ui(w.form).LapTimeBox->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      w.rowCentre(slow - 1));
    QTest::qWait(100);
    lorvane::display::LapChart* chart = guitest::ui(w.form).Chart2;
    chart->replot();
    const QPoint at(static_cast<int>(chart->xAxis->coordToPixel(chart->reference()->distance / 3)),
                    chart->axisRect()->center().y());
    QTest::mouseMove(chart, at);
    QTest::qWait(100);
    guitest::ui(w.form).Chart1->replot();
    chart->replot();
    QVERIFY(w.form.grab().save(out));
}

QTEST_MAIN(TestLapAnalysis)
#include "test_lap_analysis.moc"
