// The main window's client layout: the design's places at the design size,
// and nothing squashed or overlapping in a small window.
#include <algorithm>

#include <QtTest/QTest>

#include "gui/app/client_layout.h"
#include "gui/display/lap_chart.h"

using lorvane::app::ClientMetrics;
using lorvane::app::layoutClient;
using lorvane::app::minimumClientSize;

class TestClientLayout : public QObject {
    Q_OBJECT
private slots:
    void smallWindowsKeepEveryControlReadable();
};

void TestClientLayout::smallWindowsKeepEveryControlReadable() {
    // At the design size, the design's places.
    const ClientMetrics design;
    const auto d = layoutClient(QSize(803, 652 + 170 + 8), design);
    QCOMPARE(d.lapList, QRect(8, 184, 113, 409));
    QCOMPARE(d.trackPlot, QRect(144, 16, 609, 577));
    QCOMPARE(d.strip, QRect(144, 652, 609, 170));
    QCOMPARE(d.compareBox, QRect(8, 652, 128, 24));
    QCOMPARE(d.versionLabel, QPoint(728, 600));
    QCOMPARE(d.noteLabel, QPoint(19, 608));
    QCOMPARE(d.fileLabel, QPoint(19, 632));
    QCOMPARE(layoutClient(QSize(803, 830), ClientMetrics{113, 110, 350}).strip, QRect(144, 472, 609, 350));

    // The strip chart's readable height, from its own fonts: at that height
    // its plot holds the vertical axis titles and the labels fit the widget.
    lorvane::display::LapChart chart;
    const int least = chart.minimumReadableHeight();
    chart.resize(609, least);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.replot();
    const QFontMetrics titles(chart.yAxis->labelFont());
    QVERIFY(chart.axisRect()->height() >= titles.horizontalAdvance(chart.yAxis->label()));
    QVERIFY(chart.axisRect()->height() >= 5 * QFontMetrics(chart.yAxis->tickLabelFont()).height());
    QVERIFY(chart.axisRect()->bottom() + chart.axisRect()->margins().bottom() <= least);

    // Small windows (a wide list too, and fonts that need a tall strip):
    // the strip chart keeps that height, the track plot gives way, and the
    // labels stay between the list and the strip chart.
    // A strip chart of several panes takes what the plot and the list can give.
    for (const ClientMetrics m : {ClientMetrics{113, least}, ClientMetrics{190, 260}, ClientMetrics{113, least, 440}}) {
        const QSize min = minimumClientSize(m);
        QVERIFY(min.width() >= 600 && min.height() >= 440);
        for (const QSize client : {QSize(610, 560), QSize(300, 200), min, QSize(1400, 700)}) {
            const auto l = layoutClient(client, m);
            const QSize area = client.expandedTo(min);
            const QString at =
                QStringLiteral("%1x%2, strip %3").arg(client.width()).arg(client.height()).arg(m.stripMinHeight);
            QVERIFY2(l.strip.height() >= m.stripMinHeight &&
                         l.strip.height() <= std::max({170, m.stripMinHeight, m.stripWantHeight}),
                     qPrintable(at));
            QVERIFY2(l.strip.bottom() < area.height() && l.strip.right() < area.width(), qPrintable(at));
            QVERIFY2(l.trackPlot.height() >= 160 && l.trackPlot.bottom() < l.strip.top(), qPrintable(at));
            QVERIFY2(l.trackPlot.left() > l.lapList.right() && l.strip.left() == l.trackPlot.left(), qPrintable(at));
            QVERIFY2(l.lapList.height() >= 60 && l.lapList.bottom() < l.noteLabel.y(), qPrintable(at));
            QVERIFY2(l.noteLabel.y() < l.fileLabel.y() && l.fileLabel.y() + 16 <= l.strip.top(), qPrintable(at));
            QVERIFY2(l.compareBox.top() == l.strip.top() && l.compareBox.right() < l.strip.left(), qPrintable(at));
        }
    }
}

QTEST_MAIN(TestClientLayout)
#include "test_client_layout.moc"
