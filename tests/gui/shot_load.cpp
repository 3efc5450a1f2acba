// Not a test: shows the main window with a start/finish file and a log of
// any format dropped on it, for a look at what a user sees (logs of other
// apps, pauses, damaged files), and with a reference file opened over it
// when one is given. Run under a real display or Xvfb:
//   shot_load GXR LOG OUT.png [REF] [--compare LAP|slowest] [--channel NAME]...
//             [--no-speed] [--time] [--colour speed|lost|rate|NAME] [--cursor METRES]
//             [--save-plot FILE] [--save-chart FILE]
// --compare compares a lap with the fastest; --channel adds a chart pane for
// a channel of the log (--no-speed drops the speed pane); --time puts the
// chart against time; --colour colours the track (lost: the time lost on
// the reference lap so far; rate: per 100 m); --cursor puts the linked
// cursor that far along the chosen lap; --save-plot and --save-chart save
// the track plot or the chart as File > Save plot/chart as does (.png, .svg,
// .pdf).
#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "gui/app/Unit1.h"
#include "gui_support.h"

namespace {

int fail(const char* what, const QString& name) {
    std::fprintf(stderr, "shot_load: %s %s\n", what, qPrintable(name));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: shot_load GXR LOG OUT.png [REF] [--compare LAP|slowest] [--channel NAME]... "
                             "[--no-speed] [--time] [--colour speed|lost|rate|NAME] [--cursor METRES] "
                             "[--save-plot FILE] [--save-chart FILE]\n");
        return 2;
    }
    qRegisterMetaType<lorvane::LoadReport>();
    lorvane::Session session;
    guitest::ScriptedPrompts prompts;
    TForm1 form(session, prompts);
    QSignalSpy ended(&form, &TForm1::loadEnded);
    form.move(0, 0);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    form.openFiles({QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2])});
    if (!ended.wait(60000)) return 1;
    int next = 4;
    if (argc > 4 && !QString::fromLocal8Bit(argv[4]).startsWith(QStringLiteral("--"))) {
        prompts.files << QString::fromLocal8Bit(argv[4]);
        guitest::ui(form).actOpenReference->trigger();
        if (guitest::ui(form).LapTimeBox->count() > 1) guitest::ui(form).LapTimeBox->setCurrentRow(1);
        next = 5;
    }
    const guitest::FormUi ui = guitest::ui(form);
    std::optional<double> cursor;
    QList<std::pair<bool, QString>> saves; // chart or plot, file
    for (int i = next; i < argc; ++i) {
        const QString opt = QString::fromLocal8Bit(argv[i]);
        const QString value = i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        if (opt == QLatin1String("--compare")) {
            std::int32_t lap = value.toInt();
            if (value == QLatin1String("slowest")) {
                double worst = -1;
                for (const auto& l : form.analysis().laps)
                    if (l.traced && l.lap != form.snapshot().selectedLap && l.time > worst) {
                        worst = l.time;
                        lap = l.lap;
                    }
            }
            form.compareWith(lap);
            ++i;
        } else if (opt == QLatin1String("--channel")) {
            QAction* a = guitest::menuEntry(ui.ChartChannelsMenu, value);
            if (!a) return fail("no channel", value);
            if (!a->isChecked()) a->trigger();
            ++i;
        } else if (opt == QLatin1String("--no-speed")) {
            if (QAction* a = guitest::menuEntry(ui.ChartChannelsMenu, QStringLiteral("Speed")); a && a->isChecked())
                a->trigger();
        } else if (opt == QLatin1String("--time")) {
            ui.actChartTime->trigger();
        } else if (opt == QLatin1String("--colour")) {
            const QString caption = value == QLatin1String("rate")    ? QStringLiteral("Time lost per")
                                    : value == QLatin1String("lost")  ? QStringLiteral("Time lost")
                                    : value == QLatin1String("speed") ? QStringLiteral("Speed")
                                                                      : value;
            QAction* a = guitest::menuEntry(ui.TrackColourMenu, caption);
            if (!a) return fail("nothing to colour by called", value);
            a->trigger();
            ++i;
        } else if (opt == QLatin1String("--save-plot") || opt == QLatin1String("--save-chart")) {
            saves.append({opt == QLatin1String("--save-chart"), value});
            ++i;
        } else if (opt == QLatin1String("--cursor")) {
            cursor = value.toDouble();
            ++i;
        } else {
            return fail("unknown option", opt);
        }
    }
    if (cursor) {
        // As if the mouse were over the chart there.
        ui.Chart2->setCursorDistance(*cursor);
        emit ui.Chart2->cursorMoved(ui.Chart2->cursorDistance());
    }
    QTest::qWait(300);
    for (const auto& [chart, file] : saves) {
        prompts.files << file;
        (chart ? ui.actSaveChart : ui.actSavePlot)->trigger();
    }
    for (const auto& a : prompts.asked)
        if (a.kind == QLatin1String("error")) std::fprintf(stderr, "%s\n", qPrintable(a.text));
    std::printf("%s\n", ui.StatusLabel->text().toUtf8().constData());
    return form.grab().save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
}
