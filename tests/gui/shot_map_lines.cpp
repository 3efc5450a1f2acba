// Not a test: shows the main window with samples/demo.gxr and demo.zlg
// loaded and a finish line placed by a click on the track, for a look at it
// (docs/map-lines.png), or with two split lines placed instead, which cut
// the lap table's sectors (docs/split-lines.png). Run under a real display
// or Xvfb:
//   shot_map_lines SAMPLES_DIR OUT.png [splits]
// It saves the window as it is drawn, then stays up for a second so that a
// screen grab can be taken too.
#include <QApplication>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest/QTest>

#include "gui/app/Unit1.h"
#include "gui/display/track_plot.h"
#include "gui_support.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: shot_map_lines SAMPLES_DIR OUT.png\n");
        return 2;
    }
    qRegisterMetaType<lorvane::LoadReport>();
    const QString samples = QString::fromLocal8Bit(argv[1]);
    lorvane::Session session;
    guitest::ScriptedPrompts prompts;
    TForm1 form(session, prompts);
    QSignalSpy ended(&form, &TForm1::loadEnded);
    form.move(0, 0);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    prompts.files << samples + QStringLiteral("/demo.gxr") << samples + QStringLiteral("/demo.zlg");
    guitest::ui(form).LoadGXR->click();
    guitest::ui(form).LoadZLG->click();
    if (!ended.wait(60000)) return 1;

    // A click on the track `share` of the way round the first lap, after
    // the menu entry that places a line.
    const auto log = session.loaded();
    const auto click = [&](QAction* place, double share) {
        const auto& lap = log->laps.front();
        std::size_t at = 0;
        const auto target = lap.startSample + static_cast<std::int32_t>((lap.endSample - lap.startSample) * share);
        while (at + 1 < log->track->samples.size() && log->track->samples[at].sample < target) ++at;
        const auto& s = log->track->samples[at];
        place->trigger();
        guitest::ui(form).Chart1->replot();
        const QPoint px(static_cast<int>(guitest::ui(form).Chart1->xAxis->coordToPixel(s.east)),
                        static_cast<int>(guitest::ui(form).Chart1->yAxis->coordToPixel(s.north)));
        QTest::mouseClick(guitest::ui(form).Chart1, Qt::LeftButton, {}, px);
    };
    if (argc > 3 && QByteArray(argv[3]) == "splits") {
        click(guitest::ui(form).actAddSplit, 0.3);
        click(guitest::ui(form).actAddSplit, 0.65);
    } else {
        // A finish line a third of the way round.
        click(guitest::ui(form).actPlaceFinish, 1.0 / 3);
        form.applyGateRules(lorvane::GateRules{lorvane::GateDirection::Forward, {}, 0});
    }
    guitest::ui(form).Chart1->replot();
    QTest::qWait(300);
    if (!form.grab().save(QString::fromLocal8Bit(argv[2]))) return 1;
    QTimer::singleShot(1500, &app, &QApplication::quit);
    return app.exec();
}
