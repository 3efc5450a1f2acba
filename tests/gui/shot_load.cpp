// Not a test: shows the main window with a start/finish file and a log of
// any format dropped on it, for a look at what a user sees (logs of other
// apps, pauses, damaged files), and with a reference file opened over it
// when one is given. Run under a real display or Xvfb:
//   shot_load GXR LOG OUT.png [REF]
#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "gui/app/Unit1.h"
#include "gui_support.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: shot_load GXR LOG OUT.png [REF]\n");
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
    if (argc > 4) {
        prompts.files << QString::fromLocal8Bit(argv[4]);
        guitest::ui(form).actOpenReference->trigger();
        if (guitest::ui(form).LapTimeBox->count() > 1) guitest::ui(form).LapTimeBox->setCurrentRow(1);
    }
    QTest::qWait(300);
    std::printf("%s\n", guitest::ui(form).StatusLabel->text().toUtf8().constData());
    return form.grab().save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
}
