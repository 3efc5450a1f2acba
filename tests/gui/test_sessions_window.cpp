// The Sessions window over a library of three sessions of one circuit, what
// it asks the main window to do, and a folder dropped on the main window
// (added on a thread, cancelled part-way).
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUrl>
#include <QtTest/QTest>

#include <qcustomplot.h>

#include "circuits/circuit_db.h"
#include "formats/start_finish.h"
#include "gui/dbtools/uSessionsForm.h"
#include "gui_support.h"
#include "laps/lap_time_text.h"
#include "library/session_library.h"
#include "workspace/workspace.h"

namespace {

// Logs of one generated circuit (the seed lays it out) in `folder`, each
// dated a month after the one before, and a database with that circuit.
struct Library {
    QTemporaryDir dir;
    QString folder;
    std::string db;

    explicit Library(const QList<int>& lapsPerLog) {
        folder = dir.filePath(QStringLiteral("logs"));
        QDir().mkpath(folder);
        db = guitest::toPath(dir.filePath(QStringLiteral("circuits.db")));
        int i = 0;
        for (int laps : lapsPerLog) {
            lorvane::gen::Options o = guitest::sessionOptions(81, laps, false);
            const std::string stem = guitest::toPath(QDir(folder).filePath(QStringLiteral("s%1").arg(i)));
            lorvane::gen::writeSession(lorvane::gen::generate(o), stem);
            QFile::remove(QString::fromStdString(stem + ".wmx"));
            QFile log(QString::fromStdString(stem + ".zlg"));
            QVERIFY(log.open(QIODevice::ReadWrite));
            QVERIFY(log.setFileTime(QDateTime(QDate(2026, 3 + i, 10), QTime(10, 0), QTimeZone::utc()),
                                    QFileDevice::FileModificationTime));
            if (i == 0) {
                lorvane::Circuit c;
                c.name = "Ring";
                c.start = lorvane::readStartFinishFile(stem + ".gxr").start;
                lorvane::CircuitDb::open(db).addCircuit(c);
            }
            QFile::remove(QString::fromStdString(stem + ".gxr"));
            ++i;
        }
    }
    lorvane::SessionLibrary open() const { return lorvane::SessionLibrary::open(db); }
};

} // namespace

class TestSessionsWindow : public QObject {
    Q_OBJECT
private slots:
    void listsSessionsAndDrivesTheMainWindow();
    void droppedFolderIsAddedAndACancelKeepsWhatWasStored();
};

void TestSessionsWindow::listsSessionsAndDrivesTheMainWindow() {
    Library lib({3, 4, 5});
    {
        lorvane::SessionLibrary l = lib.open();
        const std::vector<std::string> paths{guitest::toPath(lib.folder)};
        QCOMPARE(l.add(paths).size(), 3u);
    }
    const std::vector<lorvane::StoredSession> stored = lib.open().sessions("Ring");
    QCOMPARE(stored.size(), 3u);

    guitest::MainWindow main;
    main.form.setCircuitDbPath(lib.db);
    TSessionsForm w(main.prompts);
    w.setCircuitDbPath(lib.db);
    main.form.setSessionsWindow(&w);
    QObject::connect(&w, &TSessionsForm::openSession, &main.form, &TForm1::openStoredSession);
    QObject::connect(&w, &TSessionsForm::useLap, &main.form, &TForm1::useStoredLap);
    QObject::connect(&w, &TSessionsForm::writeRefFile, &main.form, &TForm1::writeStoredLapRefFile);
    guitest::ui(main.form).actSessions->trigger();
    QVERIFY(w.isVisible());

    // The circuit, its sessions by date with their best laps, one point each.
    QCOMPARE(w.CircuitList->count(), 1);
    QCOMPARE(w.selectedCircuit(), QStringLiteral("Ring"));
    QCOMPARE(w.SessionTable->rowCount(), 3);
    const QCPGraph* chart = w.BestChart->graph(0);
    QCOMPARE(chart->dataCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const lorvane::StoredSession& s = stored[static_cast<std::size_t>(row)];
        QVERIFY(s.bestTime);
        QCOMPARE(w.SessionTable->item(row, 0)->data(Qt::UserRole).toLongLong(), s.id);
        QCOMPARE(w.SessionTable->item(row, 2)->text(), QString::number(s.lapCount));
        QVERIFY(w.SessionTable->item(row, 3)->text().startsWith(
            QString::fromStdString(lorvane::convertRealtoUTC(*s.bestTime))));
        QCOMPARE(chart->data()->at(row)->value, *s.bestTime);
        QCOMPARE(w.SessionTable->item(row, 0)->text().left(10),
                 QStringLiteral("2026-%1-10").arg(3 + row, 2, 10, QLatin1Char('0')));
    }
    QVERIFY(chart->data()->at(0)->key < chart->data()->at(2)->key);

    // Open session: the main window loads it, its laps in the list.
    w.SessionTable->selectRow(1);
    QCOMPARE(w.LapList->count(), stored[1].lapCount);
    w.OpenButton->click();
    QVERIFY(main.ended.wait(60000));
    QCOMPARE(main.lines().size(), stored[1].lapCount);

    // A lap of another session as the reference.
    w.SessionTable->selectRow(2);
    w.LapList->setCurrentRow(1);
    w.UseRefButton->click();
    QCOMPARE(guitest::ui(main.form).LapTable->model()->headerData(2, Qt::Horizontal).toString(),
             QStringLiteral("vs REF"));

    // The fastest lap ever, written as the reference file `ref` writes.
    const auto best = lib.open().bestLaps("Ring", 1);
    QCOMPARE(best.size(), 1u);
    w.BestEverButton->click();
    QVERIFY(w.BestEverLabel->text().contains(QString::fromStdString(lorvane::convertRealtoUTC(best[0].time))));
    const QString written = lib.dir.filePath(QStringLiteral("best.ref"));
    main.prompts.clear();
    main.prompts.files << written;
    w.WriteRefButton->click();
    QCOMPARE(main.prompts.kinds(), (QStringList{QStringLiteral("save"), QStringLiteral("inform")}));
    QCOMPARE(main.prompts.asked.back().text, QStringLiteral("File created OK"));
    const std::string direct = guitest::toPath(lib.dir.filePath(QStringLiteral("direct.ref")));
    lorvane::writeStoredLapRefFile(*lib.open().session(best[0].session), best[0].lap, direct, false);
    QCOMPARE(guitest::readAll(written), guitest::readAll(QString::fromStdString(direct)));
    QCOMPARE(main.prompts.unexpected, 0);
}

void TestSessionsWindow::droppedFolderIsAddedAndACancelKeepsWhatWasStored() {
    Library lib({3, 4, 3});
    {
        QFile junk(QDir(lib.folder).filePath(QStringLiteral("junk.zlg")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a log\n");
    }
    guitest::MainWindow main;
    main.form.setCircuitDbPath(lib.db);
    TSessionsForm w(main.prompts);
    w.setCircuitDbPath(lib.db);
    main.form.setSessionsWindow(&w);
    w.show();
    QCOMPARE(w.SessionTable->rowCount(), 0);

    // Dropped: the add runs on its thread; the window answers meanwhile.
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(lib.folder)});
        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&main.form, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&main.form, &drop);
    }
    QVERIFY(main.form.addingToLibrary());
    QVERIFY(guitest::ui(main.form).ProgressBar->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!main.form.addingToLibrary(), 120000);
    const QString status = guitest::ui(main.form).StatusLabel->text();
    QVERIFY2(status.contains(QStringLiteral("3 added, 0 updated, 0 unchanged, 1 refused")), qPrintable(status));
    QVERIFY(!guitest::ui(main.form).ProgressBar->isVisible());
    QCOMPARE(main.prompts.kinds(), QStringList{QStringLiteral("inform")});
    QVERIFY(main.prompts.asked.back().text.contains(QStringLiteral("junk.zlg")));
    QCOMPARE(lib.open().sessions("Ring").size(), 3u);
    QCOMPARE(w.SessionTable->rowCount(), 3); // refreshed

    // Escape part-way: the logs stored before it stay, and only those.
    const QString more = lib.dir.filePath(QStringLiteral("more"));
    QDir().mkpath(more);
    // Longer logs of the circuit: each takes a while to read, so that the
    // add is still running when the Escape arrives.
    const std::string log = lorvane::gen::generate(guitest::sessionOptions(81, 25, false)).zlg;
    for (int i = 0; i < 16; ++i) {
        QFile f(QDir(more).filePath(QStringLiteral("copy%1.zlg").arg(i, 2, 10, QLatin1Char('0'))));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(log.data(), static_cast<qint64>(log.size()));
    }
    main.prompts.clear();
    main.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&main.form));
    bool escaped = false;
    QObject::connect(guitest::ui(main.form).ProgressBar, &QProgressBar::valueChanged, &main.form, [&](int v) {
        if (v > 0 && !escaped) {
            escaped = true;
            QTest::keyClick(&main.form, Qt::Key_Escape);
        }
    });
    main.form.openFiles({more});
    QTRY_VERIFY_WITH_TIMEOUT(!main.form.addingToLibrary(), 120000);
    QVERIFY(escaped);
    const QString cancelled = guitest::ui(main.form).StatusLabel->text();
    QVERIFY2(cancelled.contains(QStringLiteral("cancelled")), qPrintable(cancelled));
    const std::size_t stored = lib.open().sessions().size() - 3;
    QVERIFY2(stored >= 1 && stored < 16, qPrintable(cancelled));
    QVERIFY2(cancelled.contains(QStringLiteral("%1 added, 0 updated, 0 unchanged, 0 refused").arg(stored)),
             qPrintable(cancelled));
    QCOMPARE(main.prompts.unexpected, 0);

    // Closing the window stops an add at once and waits for its thread.
    main.form.openFiles({more});
    QVERIFY(main.form.addingToLibrary());
    main.form.close();
    QVERIFY(!main.form.addingToLibrary());
    QTest::qWait(100);
    QVERIFY(main.prompts.asked.isEmpty());
}

QTEST_MAIN(TestSessionsWindow)
#include "test_sessions_window.moc"
