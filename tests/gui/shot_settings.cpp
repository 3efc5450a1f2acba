// Not a test: a look at Tools > Preferences and File > Recent logs, with the
// settings in an INI file of the given folder (never the user's own). Loads
// each log in turn, switches the units to mph and feet and saves pictures of
// the window, the open Recent logs menu and the Preferences dialog. Run under
// a real display or Xvfb:
//   shot_settings OUTDIR GXR LOG [LOG...]
#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "gui/app/Unit1.h"
#include "gui/app/app_settings.h"
#include "gui/app/preferences_dialog.h"
#include "gui_support.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: shot_settings OUTDIR GXR LOG [LOG...]\n");
        return 2;
    }
    qRegisterMetaType<lorvane::LoadReport>();
    const QDir out(QString::fromLocal8Bit(argv[1]));
    lorvane::app::AppSettings settings(out.filePath(QStringLiteral("settings.ini")));
    lorvane::Session session;
    guitest::ScriptedPrompts prompts;
    TForm1 form(session, prompts);
    const bool placed = form.useSettings(settings);
    QSignalSpy ended(&form, &TForm1::loadEnded);
    if (!placed) form.move(0, 0);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    form.openFiles({QString::fromLocal8Bit(argv[2])});
    for (int i = 3; i < argc; ++i) {
        form.openFiles({QString::fromLocal8Bit(argv[i])});
        if (!ended.wait(60000)) return 1;
    }
    const lorvane::Units imperial{lorvane::SpeedUnit::Mph, lorvane::DistanceUnit::Feet};
    form.applyUnits(imperial);
    settings.setUnits(imperial);
    QTest::qWait(300);
    form.grab().save(out.filePath(QStringLiteral("window.png")));

    QMenu* file = form.menuBar()->findChildren<QMenu*>().value(0);
    const QRect fileAt = form.menuBar()->actionGeometry(file->menuAction());
    file->popup(form.menuBar()->mapToGlobal(fileAt.bottomLeft()));
    QTest::qWait(200);
    QMenu* recent = guitest::ui(form).RecentMenu;
    file->setActiveAction(recent->menuAction());
    recent->popup(file->mapToGlobal(file->actionGeometry(recent->menuAction()).topRight()));
    QTest::qWait(300);
    form.screen()->grabWindow(0).save(out.filePath(QStringLiteral("recent.png")));
    recent->close();
    file->close();

    lorvane::app::PreferencesDialog prefs(form.units(), &form);
    prefs.show();
    QTest::qWait(300);
    prefs.grab().save(out.filePath(QStringLiteral("preferences.png")));
    form.screen()->grabWindow(0).save(out.filePath(QStringLiteral("preferences-screen.png")));
    prefs.close();
    form.close();
    return 0;
}
