// Program start: the application object, the main window Form1, then, hidden,
// AddToDatabaseForm, AddCountryForm and the Circuits and Sessions windows;
// the message loop runs until the main window closes.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include "gui/app/Unit1.h"
#include "gui/app/app_settings.h"
#include "gui/common/prompts.h"
#include "gui/common/window_style.h"
#include "gui/dbtools/uAddCountryForm.h"
#include "gui/dbtools/uAddToDataBase.h"
#include "gui/dbtools/uCircuitsForm.h"
#include "gui/dbtools/uSessionsForm.h"
#include "lorvane/version.h"
#include "session/session.h"

namespace {

// Test and documentation hook, not a user setting: with LORVANE_DEMO set to a
// folder, the window loads demo.gxr and then demo.zlg from it as if they had
// been dropped on it; with LORVANE_SCREENSHOT set to a file name as well, the
// window saves a picture of itself there once the load has ended, and quits.
void runDemoHook(TForm1& form) {
    const QString folder = qEnvironmentVariable("LORVANE_DEMO");
    if (folder.isEmpty()) return;
    const QString shot = qEnvironmentVariable("LORVANE_SCREENSHOT");
    if (!shot.isEmpty()) {
        QObject::connect(&form, &TForm1::loadEnded, &form, [&form, shot] {
            QTimer::singleShot(300, &form, [&form, shot] {
                form.grab().save(shot);
                form.close();
            });
        });
    }
    const QDir dir(QDir(folder).absolutePath());
    QTimer::singleShot(200, &form, [&form, dir] {
        form.openFiles(
            {dir.filePath(QStringLiteral("demo.gxr")), dir.filePath(QStringLiteral("demo.zlg"))});
    });
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The settings live under these names, in the platform's own place.
    QApplication::setOrganizationName(QStringLiteral("Lorvane"));
    QApplication::setApplicationName(QStringLiteral("Lorvane"));
    QApplication::setApplicationVersion(QStringLiteral(LORVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("lorvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lorvane/lorvane.png")));

    lorvane::Session session;
    lorvane::app::DialogPrompts prompts;

    TForm1 form1(session, prompts);
    lorvane::app::AppSettings settings;
    const bool placed = form1.useSettings(settings);
    TAddToDatabaseForm addToDatabaseForm(prompts);
    TAddCountryForm addCountryForm(prompts);
    form1.setSideWindows(&addToDatabaseForm, &addCountryForm);
    // All three use the user's circuit database (the default path).
    TCircuitsForm circuitsForm(prompts);
    form1.setCircuitsWindow(&circuitsForm);
    QObject::connect(&addToDatabaseForm, &TAddToDatabaseForm::circuitAdded, &circuitsForm,
                     &TCircuitsForm::refresh);
    // The session library lives in the same database; what the user picks in
    // it is loaded, compared or written by the main window.
    TSessionsForm sessionsForm(prompts);
    form1.setSessionsWindow(&sessionsForm);
    QObject::connect(&sessionsForm, &TSessionsForm::openSession, &form1,
                     &TForm1::openStoredSession);
    QObject::connect(&sessionsForm, &TSessionsForm::useLap, &form1, &TForm1::useStoredLap);
    QObject::connect(&sessionsForm, &TSessionsForm::writeRefFile, &form1,
                     &TForm1::writeStoredLapRefFile);

    // Closing the main window ends the program, side windows open or not.
    QObject::connect(&form1, &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    // Where the user left it; the first time no larger than the screen's
    // free part (display scaling may make the designed size too large for
    // it), in the middle of it.
    if (!placed) lorvane::app::fitToScreen(&form1);
    form1.show();
    runDemoHook(form1);
    return app.exec();
}
