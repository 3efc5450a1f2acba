// lorvane-desktop-bench: the desktop load of a large log under the offscreen
// platform, from the drop of the files to the fitted plot, and how long the
// window goes at most without processing events meanwhile; then how long
// choosing a lap and comparing two take until both plots are painted; then,
// with two laps compared, how long adding and removing a chart channel, the
// time axis and colouring the track take until both plots are painted.
//
//   lorvane-desktop-bench STEM [text|binary]...   (STEM.gxr, STEM.zlg, STEM.wmx)
// lorvane-bench --inputs-only makes and lists the inputs.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QMenu>
#include <QTimer>

#include <vector>

#include "gui/app/Unit1.h"
#include "gui/common/prompts.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"
#include "session/session.h"

namespace {

// Times every event the window's thread delivers at the top level, so that the
// longest one can be named.
class TimingApp final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ > 0 || !recording) {
            const bool r = QApplication::notify(receiver, event);
            --depth_;
            return r;
        }
        QElapsedTimer t;
        t.start();
        const int type = event->type();
        const QByteArray cls = receiver->metaObject()->className();
        const bool r = QApplication::notify(receiver, event);
        const double ms = t.nsecsElapsed() / 1e6;
        --depth_;
        if (ms > longestMs) {
            longestMs = ms;
            longestWhat = cls + " event " + QByteArray::number(type);
        }
        return r;
    }
    bool recording = false;
    double longestMs = 0;
    QByteArray longestWhat;

private:
    int depth_ = 0;
};

// Answers every question without a dialog; remembers the last error.
class QuietPrompts final : public lorvane::app::Prompts {
public:
    std::optional<QString> openFile(QWidget*, const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> saveFile(QWidget*, const QString&, const QString&) override { return std::nullopt; }
    bool confirm(QWidget*, const QString&, const QString&) override { return true; }
    void inform(QWidget*, const QString&, const QString&) override {}
    void error(QWidget*, const QString& text) override { lastError = text; }
    std::optional<int> choose(QWidget*, const QString&, const QString&, const QStringList&) override { return 0; }
    lorvane::app::SaveAnswer askToSave(QWidget*, const QString&, const QString&) override {
        return lorvane::app::SaveAnswer::Discard;
    }
    QString lastError;
};

struct Figures {
    double loadMs = 0;     // drop of the log to the fitted plot painted
    double maxStallMs = 0; // longest gap between ticks of a 5 ms timer
    double stallEndMs = 0; // when the longest gap ended, from the drop
    double endedMs = 0;    // when the window reported the end of the load
    double repaintMs = 0;  // one full repaint of the fitted plot afterwards
    bool ok = false;
};

Figures measure(TForm1& form, const QString& gxr, const QString& log) {
    Figures f;
    form.openFiles({gxr});
    QCoreApplication::processEvents();

    QElapsedTimer clock;
    qint64 lastTick = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if ((now - lastTick) / 1e6 > f.maxStallMs) {
            f.maxStallMs = (now - lastTick) / 1e6;
            f.stallEndMs = now / 1e6;
        }
        lastTick = now;
    });

    QEventLoop loop;
    bool ended = false;
    auto conn = QObject::connect(&form, &TForm1::loadEnded, [&](const lorvane::LoadReport& r) {
        f.ok = r.ok;
        f.endedMs = clock.nsecsElapsed() / 1e6;
        ended = true;
        loop.quit();
    });
    clock.start();
    ticker.start();
    form.openFiles({log});
    if (!ended) loop.exec();
    // The fitted view painted once.
    form.findChild<lorvane::display::TrackPlot*>(QStringLiteral("Chart1"))->replot(QCustomPlot::rpImmediateRefresh);
    QCoreApplication::processEvents();
    f.loadMs = clock.nsecsElapsed() / 1e6;
    ticker.stop();
    QObject::disconnect(conn);

    QElapsedTimer paint;
    paint.start();
    constexpr int kPaints = 5;
    for (int i = 0; i < kPaints; ++i)
        form.findChild<lorvane::display::TrackPlot*>(QStringLiteral("Chart1"))->replot(QCustomPlot::rpImmediateRefresh);
    f.repaintMs = paint.nsecsElapsed() / 1e6 / kPaints;
    return f;
}

// Choosing a lap in the list, then comparing another with it: each time from
// the user's action to the track plot and the chart painted with the result.
struct LapFigures {
    int laps = 0;
    double chooseMedianMs = 0, chooseMaxMs = 0;
    double compareMedianMs = 0, compareMaxMs = 0;
    int chartPoints = 0; // points the chart holds for the last comparison
    int chartWidth = 0;  // its width in pixels
};

LapFigures measureLaps(TForm1& form) {
    LapFigures f;
    const int n = form.findChild<TLapListBox*>(QStringLiteral("LapTimeBox"))->count();
    f.laps = n;
    if (n < 2) return f;
    auto painted = [&] {
        form.findChild<lorvane::display::TrackPlot*>(QStringLiteral("Chart1"))->replot(QCustomPlot::rpImmediateRefresh);
        form.findChild<lorvane::display::LapChart*>(QStringLiteral("Chart2"))->replot(QCustomPlot::rpImmediateRefresh);
        QCoreApplication::processEvents();
    };
    auto stats = [](std::vector<double> v, double& median, double& worst) {
        std::sort(v.begin(), v.end());
        median = v[v.size() / 2];
        worst = v.back();
    };
    constexpr int kTries = 25;
    std::vector<double> choose, compare;
    for (int i = 0; i < kTries; ++i) {
        // Laps spread over the whole log, the last one among them.
        const int row = (i == 0) ? n - 1 : static_cast<int>((static_cast<long long>(i) * 7919) % n);
        QElapsedTimer t;
        t.start();
        form.findChild<TLapListBox*>(QStringLiteral("LapTimeBox"))->setCurrentRow(row);
        painted();
        choose.push_back(t.nsecsElapsed() / 1e6);

        const int other = (row + n / 2) % n;
        t.restart();
        form.compareWith(other + 1);
        painted();
        compare.push_back(t.nsecsElapsed() / 1e6);
    }
    stats(choose, f.chooseMedianMs, f.chooseMaxMs);
    stats(compare, f.compareMedianMs, f.compareMaxMs);
    int points = 0;
    for (int g = 0; g < form.findChild<lorvane::display::LapChart*>(QStringLiteral("Chart2"))->graphCount(); ++g)
        points = std::max(points,
                          form.findChild<lorvane::display::LapChart*>(QStringLiteral("Chart2"))->graph(g)->dataCount());
    f.chartPoints = points;
    f.chartWidth = form.findChild<lorvane::display::LapChart*>(QStringLiteral("Chart2"))->axisRect()->width();
    form.compareWith(0);
    return f;
}

// With two laps compared: each of the log's channels (up to four) added to
// the chart and removed again, the time axis on and off, and the track
// coloured by speed, by each of those channels and by the time lost, then
// not at all; each from the menu's action to both plots painted.
struct ChannelFigures {
    int channels = 0;
    double paneMedianMs = 0, paneMaxMs = 0;     // a channel added or removed, the x axis switched
    double colourMedianMs = 0, colourMaxMs = 0; // the track coloured or not
    int maxPanes = 0;
    int chartPoints = 0, chartWidth = 0; // the most points any curve held, the chart's width then
};

ChannelFigures measureChannels(TForm1& form) {
    ChannelFigures f;
    auto* chart = form.findChild<lorvane::display::LapChart*>(QStringLiteral("Chart2"));
    auto* plot = form.findChild<lorvane::display::TrackPlot*>(QStringLiteral("Chart1"));
    auto* channels = form.findChild<QMenu*>(QStringLiteral("ChartChannelsMenu"));
    auto* colours = form.findChild<QMenu*>(QStringLiteral("TrackColourMenu"));
    auto* timeAxis = form.findChild<QAction*>(QStringLiteral("actChartTime"));
    const int n = form.findChild<TLapListBox*>(QStringLiteral("LapTimeBox"))->count();
    if (!chart || !channels || !colours || !timeAxis || n < 2) return f;
    form.findChild<TLapListBox*>(QStringLiteral("LapTimeBox"))->setCurrentRow(n - 1);
    form.compareWith(n / 2);
    QCoreApplication::processEvents();
    auto timed = [&](std::vector<double>& into, auto&& action) {
        QElapsedTimer t;
        t.start();
        action();
        plot->replot(QCustomPlot::rpImmediateRefresh);
        chart->replot(QCustomPlot::rpImmediateRefresh);
        QCoreApplication::processEvents();
        into.push_back(t.nsecsElapsed() / 1e6);
        f.maxPanes = std::max(f.maxPanes, chart->paneCount());
        for (int g = 0; g < chart->graphCount(); ++g)
            if (chart->graph(g)->dataCount() > f.chartPoints) {
                f.chartPoints = chart->graph(g)->dataCount();
                f.chartWidth = chart->axisRect()->width();
            }
    };
    std::vector<QAction*> picked;
    for (QAction* a : channels->actions())
        if (picked.size() < 4 && a->data().toString().front() != QChar(1)) picked.push_back(a);
    f.channels = static_cast<int>(channels->actions().size()) - 1;
    std::vector<double> panes, colour;
    for (QAction* a : picked) timed(panes, [&] { a->trigger(); });
    timed(panes, [&] { timeAxis->trigger(); });
    timed(panes, [&] { timeAxis->trigger(); });
    for (QAction* a : picked) timed(panes, [&] { a->trigger(); });
    for (QAction* a : colours->actions()) {
        const QString key = a->data().toString();
        const bool channel = !key.isEmpty() && key.front() != QChar(1);
        if (channel &&
            std::none_of(picked.begin(), picked.end(), [&](QAction* p) { return p->data().toString() == key; }))
            continue;
        timed(colour, [&] { a->trigger(); });
    }
    colours->actions().front()->trigger(); // none
    auto stats = [](std::vector<double> v, double& median, double& worst) {
        if (v.empty()) return;
        std::sort(v.begin(), v.end());
        median = v[v.size() / 2];
        worst = v.back();
    };
    stats(panes, f.paneMedianMs, f.paneMaxMs);
    stats(colour, f.colourMedianMs, f.colourMaxMs);
    form.compareWith(0);
    return f;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lorvane-desktop-bench STEM [text|binary]...\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TimingApp app(argc, argv);
    const QString stem = QString::fromLocal8Bit(argv[1]);
    QStringList kinds;
    for (int i = 2; i < argc; ++i) kinds << QString::fromLocal8Bit(argv[i]);
    if (kinds.isEmpty()) kinds = {"text", "binary"};

    std::printf("%-8s %12s %14s %14s %14s %12s\n", "log", "load ms", "max stall ms", "stall ends at", "load ended at",
                "repaint ms");
    int status = 0;
    for (const QString& kind : kinds) {
        lorvane::Session session;
        QuietPrompts prompts;
        TForm1 form(session, prompts);
        form.show();
        QCoreApplication::processEvents();
        app.longestMs = 0;
        app.recording = true;
        const Figures f = measure(form, stem + ".gxr", stem + (kind == "text" ? ".zlg" : ".wmx"));
        app.recording = false;
        if (!f.ok) {
            std::fprintf(stderr, "%s: load failed: %s\n", qPrintable(kind), qPrintable(prompts.lastError));
            status = 1;
        }
        std::printf("%-8s %12.0f %14.0f %14.0f %14.0f %12.1f\n", qPrintable(kind), f.loadMs, f.maxStallMs, f.stallEndMs,
                    f.endedMs, f.repaintMs);
        std::printf("         longest single event: %.0f ms (%s)\n", app.longestMs, app.longestWhat.constData());
        if (f.ok) {
            const LapFigures l = measureLaps(form);
            std::printf("         %d laps; choose a lap: median %.1f ms, worst %.1f ms; compare two: median %.1f ms, "
                        "worst %.1f ms (target 50 ms); chart %d points on %d pixels\n",
                        l.laps, l.chooseMedianMs, l.chooseMaxMs, l.compareMedianMs, l.compareMaxMs, l.chartPoints,
                        l.chartWidth);
            const ChannelFigures c = measureChannels(form);
            std::printf("         %d channels; add/remove a chart channel or switch the x axis: median %.1f ms, worst "
                        "%.1f ms (up to %d panes); colour the track: median %.1f ms, worst %.1f ms (target 50 ms); "
                        "chart %d points on %d pixels\n",
                        c.channels, c.paneMedianMs, c.paneMaxMs, c.maxPanes, c.colourMedianMs, c.colourMaxMs,
                        c.chartPoints, c.chartWidth);
        }
    }
    return status;
}
