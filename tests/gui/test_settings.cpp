// Settings that stay between runs and the user's units: what one window
// writes, a new one reads back; damaged settings give a first start; the
// units change the lap table and the exported CSV. The settings live in an
// INI file in a temporary folder: the user's own are never read or written.
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest/QTest>

#include "gui/app/app_settings.h"
#include "gui/app/preferences_dialog.h"
#include "gui_support.h"

using guitest::MainWindow;
using guitest::SessionFiles;
using lorvane::app::AppSettings;

namespace {

// Tools > Preferences..., the two units chosen by their index, then OK.
void choosePreferences(TForm1& form, int speed, int distance) {
    QTimer::singleShot(0, &form, [&form, speed, distance] {
        auto* d = form.findChild<lorvane::app::PreferencesDialog*>();
        QVERIFY(d);
        d->speed->setCurrentIndex(speed);
        d->distance->setCurrentIndex(distance);
        d->accept();
    });
    guitest::ui(form).actPreferences->trigger();
}

QString header(const QTableView* table, int fromEnd) {
    const auto* m = table->model();
    return m->headerData(m->columnCount() - fromEnd, Qt::Horizontal).toString();
}

double cell(const QTableView* table, int row, int fromEnd) {
    const auto* m = table->model();
    return m->data(m->index(row, m->columnCount() - fromEnd)).toString().toDouble();
}

QList<QByteArray> csvRow(const QString& path, int row) {
    return guitest::readAll(path).split('\n').value(row).split(',');
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void unitsChangeTheLapTableAndTheExport();
    void settingsStayAndDamagedOnesGiveAFirstStart();
};

void TestSettings::initTestCase() {
    // Should anything reach for the user's settings, it finds a test folder.
    QStandardPaths::setTestModeEnabled(true);
    static QTemporaryDir userScope;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, userScope.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, userScope.path());
}

void TestSettings::unitsChangeTheLapTableAndTheExport() {
    SessionFiles files(guitest::sessionOptions(31, 3, false));
    MainWindow w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const QTableView* table = guitest::ui(w.form).LapTable;
    QCOMPARE(header(table, 2), QStringLiteral("Top km/h"));
    QCOMPARE(header(table, 1), QStringLiteral("Dist m"));
    const double kmh = cell(table, 0, 2), metres = cell(table, 0, 1);
    QVERIFY(kmh > 10 && metres > 100);
    w.prompts.files << files.path(QStringLiteral("kmh.csv")) << files.path(QStringLiteral("mph.csv"));
    guitest::ui(w.form).actExportCsv->trigger();

    choosePreferences(w.form, 1, 1);
    QCOMPARE(w.form.units(), (lorvane::Units{lorvane::SpeedUnit::Mph, lorvane::DistanceUnit::Feet}));
    QCOMPARE(header(table, 2), QStringLiteral("Top mph"));
    QCOMPARE(header(table, 1), QStringLiteral("Dist ft"));
    QVERIFY(qAbs(cell(table, 0, 2) - kmh / 1.609344) <= 0.06);
    QVERIFY(qAbs(cell(table, 0, 1) - metres / 0.3048) <= 4); // metres and feet both rounded
    guitest::ui(w.form).actExportCsv->trigger();
    QCOMPARE(w.prompts.unexpected, 0);

    // The same lap, its distance and speed converted and named in the header.
    const QString kmhCsv = files.path(QStringLiteral("kmh.csv")), mphCsv = files.path(QStringLiteral("mph.csv"));
    QCOMPARE(csvRow(kmhCsv, 0).join(','), QByteArray("distance,time,speed,east,north,latitude,longitude"));
    QCOMPARE(csvRow(mphCsv, 0).join(','), QByteArray("distance_ft,time_s,speed_mph,east_m,north_m,latitude,longitude"));
    const int last = static_cast<int>(guitest::readAll(kmhCsv).count('\n')) - 1;
    QCOMPARE(guitest::readAll(mphCsv).count('\n'), last + 1);
    for (int row : {1, last}) {
        const auto a = csvRow(kmhCsv, row), b = csvRow(mphCsv, row);
        QVERIFY(qAbs(b[0].toDouble() - a[0].toDouble() / 0.3048) < 0.005);
        QVERIFY(qAbs(b[2].toDouble() - a[2].toDouble() / 1.609344) < 0.01);
        QCOMPARE(b.mid(3), a.mid(3));
    }
    // Cancel keeps the units.
    QTimer::singleShot(0, &w.form, [&w] { w.form.findChild<lorvane::app::PreferencesDialog*>()->reject(); });
    guitest::ui(w.form).actPreferences->trigger();
    QCOMPARE(header(table, 2), QStringLiteral("Top mph"));
}

void TestSettings::settingsStayAndDamagedOnesGiveAFirstStart() {
    SessionFiles files(guitest::sessionOptions(32, 4, false));
    QTemporaryDir store;
    const QString ini = store.filePath(QStringLiteral("lorvane.ini"));
    const QString gone = files.write(QStringLiteral("gone.zlg"), files.session.zlg);
    QVERIFY(QDir(files.dir.path()).mkpath(QStringLiteral("out")));
    const lorvane::GateRules rules{lorvane::GateDirection::Both, 60.5, 5, 30};
    QSize firstSize;
    QRect firstChart;
    {
        MainWindow plain; // no settings at all: today's first start
        AppSettings settings(ini);
        MainWindow w;
        QVERIFY(!w.form.useSettings(settings));
        // Empty settings lay the window out as a window without them.
        QCOMPARE(w.form.size(), plain.form.size());
        QCOMPARE(w.form.centralWidget()->size(), QSize(TForm1::kClientWidth, TForm1::kOpenClientHeight));
        QCOMPARE(guitest::ui(w.form).LapDock->width(), guitest::ui(plain.form).LapDock->width());
        QVERIFY(!guitest::ui(w.form).RecentMenu->isEnabled());

        QVERIFY(w.load(files.gxr, gone));
        w.prompts.files << files.zlg;
        guitest::ui(w.form).LoadZLG->click();
        QVERIFY(w.ended.wait(60000));
        QCOMPARE(w.form.recentLogs(), (QStringList{files.zlg, gone}));
        w.prompts.files << files.path(QStringLiteral("out/lap.csv"));
        guitest::ui(w.form).actExportCsv->trigger();
        QVERIFY(QFile::exists(files.path(QStringLiteral("out/lap.csv"))));
        w.form.applyGateRules(rules);
        choosePreferences(w.form, 1, 0);
        QCOMPARE(w.prompts.unexpected, 0);
        w.form.resize(w.form.width() - 60, w.form.height() - 40);
        QTest::qWait(50);
        firstSize = w.form.size();
        firstChart = guitest::ui(w.form).Chart1->geometry();
        for (QAction* a : guitest::ui(w.form).ChartChannelsMenu->actions())
            if (a->text().startsWith(QStringLiteral("Altitude"))) a->trigger();
        QCOMPARE(guitest::ui(w.form).Chart2->paneCount(), 2);
        w.form.close();
    }
    QVERIFY(QFile::remove(gone));
    {
        AppSettings settings(ini);
        MainWindow w;
        QVERIFY(w.form.useSettings(settings));
        QCOMPARE(w.form.size(), firstSize);
        QCOMPARE(guitest::ui(w.form).Chart1->geometry(), firstChart);
        QCOMPARE(w.form.units(), (lorvane::Units{lorvane::SpeedUnit::Mph, lorvane::DistanceUnit::Metres}));
        QCOMPARE(w.form.snapshot().rules, rules);
        QCOMPARE(header(guitest::ui(w.form).LapTable, 2), QStringLiteral("Top mph"));
        // Each dialog opens where it was last used.
        w.prompts.files << files.gxr;
        guitest::ui(w.form).LoadGXR->click();
        QCOMPARE(w.prompts.asked.value(0).folder, files.dir.path());
        // The recent logs, newest first; the one that is gone goes with a word.
        QMenu* recent = guitest::ui(w.form).RecentMenu;
        QVERIFY(recent->isEnabled());
        QCOMPARE(recent->actions().value(1)->toolTip(), gone);
        recent->actions().value(1)->trigger();
        QCOMPARE(w.prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("inform")}));
        QVERIFY(w.prompts.asked[1].text.contains(gone));
        QCOMPARE(w.form.recentLogs(), QStringList{files.zlg});
        // The other reloads its log with the rules in force.
        recent->actions().value(0)->trigger();
        QVERIFY(w.ended.wait(60000));
        QCOMPARE(w.form.snapshot().log()->path, guitest::toPath(files.zlg));
        QCOMPARE(w.session.gateRules(), rules);
        QCOMPARE(guitest::ui(w.form).Chart2->paneCount(), 2); // the chart's channels came back
        QCOMPARE(guitest::ui(w.form).Chart2->paneName(1), QStringLiteral("Altitude"));
        w.prompts.clear();
        w.prompts.files << std::optional<QString>();
        guitest::ui(w.form).actExportCsv->trigger();
        QCOMPARE(w.prompts.asked.value(0).folder, files.path(QStringLiteral("out")));
        guitest::ui(w.form).actClearRecent->trigger();
        QVERIFY(w.form.recentLogs().isEmpty() && !recent->isEnabled());
        QVERIFY(AppSettings(ini).recentLogs().isEmpty());
    }
    {
        // Values that do not read back give their defaults, and the window
        // starts as the first time.
        QSettings raw(ini, QSettings::IniFormat);
        raw.setValue(QStringLiteral("units/speed"), QStringLiteral("furlongs"));
        raw.setValue(QStringLiteral("rules/gateWidth"), QStringLiteral("wide"));
        raw.setValue(QStringLiteral("rules/maxGap"), QStringLiteral("nan"));
        raw.setValue(QStringLiteral("rules/minLap"), QStringLiteral("-3"));
        raw.setValue(QStringLiteral("rules/direction"), QStringLiteral("sideways"));
        raw.setValue(QStringLiteral("window/geometry"), QByteArray("not a geometry"));
        raw.setValue(QStringLiteral("folders/log"), files.path(QStringLiteral("no/such/folder")));
        QStringList many;
        for (int i = 0; i < 12; ++i) many << QStringLiteral("/logs/%1.zlg").arg(i % 10) << QString();
        raw.setValue(QStringLiteral("recent/logs"), many);
        raw.sync();
        AppSettings settings(ini);
        QCOMPARE(settings.units(), lorvane::Units{});
        QVERIFY(settings.gateRules() == lorvane::GateRules{});
        QVERIFY(settings.folder(AppSettings::Folder::Log).isEmpty());
        MainWindow plain, w;
        QVERIFY(!w.form.useSettings(settings));
        QCOMPARE(w.form.size(), plain.form.size());
        // At most eight, once each.
        QCOMPARE(w.form.recentLogs(), many.mid(0, 16).filter(QStringLiteral("zlg")));
        settings.setChosenChannels({QStringLiteral("RPM"), QStringLiteral("Lambda"), QStringLiteral("RPM")});
        QCOMPARE(AppSettings(ini).chosenChannels(), (QStringList{QStringLiteral("RPM"), QStringLiteral("Lambda")}));
    }
}

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
