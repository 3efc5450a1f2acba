// Not a test: the Sessions window over a library of generated sessions of one
// circuit, a few weeks apart, with a session and the fastest lap ever chosen,
// for a look at what a user sees (docs/sessions.png). Run under a real
// display or Xvfb:
//   shot_sessions OUT.png [MAIN.png]
// With MAIN.png, the main window as the same folder is dropped on it again,
// the add running.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest/QTest>

#include "circuits/circuit_db.h"
#include "formats/start_finish.h"
#include "gui/dbtools/uSessionsForm.h"
#include "gui_support.h"
#include "library/session_library.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: shot_sessions OUT.png\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("logs"));
    QDir().mkpath(folder);
    const std::string db = guitest::toPath(dir.filePath(QStringLiteral("circuits.db")));
    const int laps[] = {6, 9, 7, 12, 8, 14, 10};
    const QDate first(2026, 3, 7);
    for (int i = 0; i < static_cast<int>(std::size(laps)); ++i) {
        lorvane::gen::Options o = guitest::sessionOptions(81, laps[i], false);
        o.noise = 0.2 + 0.05 * i;
        const std::string stem = guitest::toPath(
            QDir(folder).filePath(QStringLiteral("%1-ring").arg(first.addDays(17 * i).toString(Qt::ISODate))));
        lorvane::gen::writeSession(lorvane::gen::generate(o), stem);
        QFile::remove(QString::fromStdString(stem + ".wmx"));
        QFile log(QString::fromStdString(stem + ".zlg"));
        if (!log.open(QIODevice::ReadWrite) ||
            !log.setFileTime(QDateTime(first.addDays(17 * i), QTime(9 + i % 5, 30), QTimeZone::utc()),
                             QFileDevice::FileModificationTime))
            return 1;
        if (i == 0) {
            lorvane::Circuit c;
            c.name = "Ring";
            c.start = lorvane::readStartFinishFile(stem + ".gxr").start;
            lorvane::CircuitDb::open(db).addCircuit(c);
        }
        QFile::remove(QString::fromStdString(stem + ".gxr"));
    }
    lorvane::SessionLibrary::open(db).add(std::vector<std::string>{guitest::toPath(folder)});

    guitest::ScriptedPrompts prompts;
    TSessionsForm w(prompts);
    w.setCircuitDbPath(db);
    w.move(0, 0);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w)) return 1;
    w.SessionTable->selectRow(3);
    w.BestEverButton->click();
    QTest::qWait(300);
    std::printf("%s\n", w.StatusLabel->text().toUtf8().constData());
    if (!w.grab().save(QString::fromLocal8Bit(argv[1]))) return 1;
    if (argc < 3) return 0;
    lorvane::Session session;
    TForm1 form(session, prompts);
    form.setCircuitDbPath(db);
    form.setSessionsWindow(&w);
    form.move(0, 0);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    form.openFiles({folder});
    const bool saved = form.grab().save(QString::fromLocal8Bit(argv[2]));
    for (int i = 0; i < 600 && form.addingToLibrary(); ++i) QTest::qWait(100);
    std::printf("%s\n", guitest::ui(form).StatusLabel->text().toUtf8().constData());
    return saved ? 0 : 1;
}
