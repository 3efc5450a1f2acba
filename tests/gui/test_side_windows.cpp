// The country window with its KML reading, and the add-to-database window.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include <QGuiApplication>
#include <QScreen>

#include "gui/common/window_style.h"
#include "gui/dbtools/kml.h"
#include "gui/dbtools/uAddCountryForm.h"
#include "gui/dbtools/uAddToDataBase.h"
#include "gui_support.h"

using lorvane::dbtools::readKmlExtremes;

namespace {

QByteArray kml(const QByteArray& coordinates, const QByteArray& tag = "coordinates") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n<Placemark>\n"
           "<name>Box</name>\n<LineString>\n<tessellate>1</tessellate>\n<" +
           tag + ">" + coordinates + "</" + tag + ">\n</LineString>\n</Placemark>\n</Document>\n</kml>\n";
}

const QByteArray kFourPoints = "\n\t\t\t\t-1.5,52.25,0 -1.25,52.25,0 -1.25,52,0 -1.5,52,0\n\t\t\t";

} // namespace

class TestSideWindows : public QObject {
    Q_OBJECT
private slots:
    void kmlReadsEveryTupleWhereverTheLinesBreak();
    void kmlSkipsEmptyComponents();
    void kmlComparesTheThirdPoint();
    void kmlReadsOnlyTheFirstCoordinates();
    void kmlReportsWhatItCannotRead_data();
    void kmlReportsWhatItCannotRead();

    void countryWindowLayout();
    void countryWindowShowsLatitudeFirstAndTheName();
    void countryWindowCancelAndErrorsChangeNothing();
    void addToDatabaseWindow();
    void sideWindowsOpenOnTheScreen();
};

void TestSideWindows::kmlReadsEveryTupleWhereverTheLinesBreak() {
    const QByteArray layouts[] = {
        kFourPoints,
        "-1.5,52.25,0 -1.25,52.25,0 -1.25,52,0 -1.5,52,0",            // on the tag's line
        "-1.5,52.25,0\n-1.25,52.25,0\r\n  -1.25,52,0\n\n-1.5,52,0\n", // one per line
        "-1.5,52.25 -1.25,52.25 -1.25,52 -1.5,52",                    // no altitudes
    };
    for (const QByteArray& c : layouts) {
        const auto r = readKmlExtremes(kml(c));
        QVERIFY2(r.ok, r.error.message.c_str());
        QCOMPARE(r.extremes.tuples, 4);
        QCOMPARE(r.extremes.maxLong, -1.25);
        QCOMPARE(r.extremes.minLong, -1.5);
        QCOMPARE(r.extremes.maxLat, 52.25);
        QCOMPARE(r.extremes.minLat, 52.0);
    }
}

void TestSideWindows::kmlSkipsEmptyComponents() {
    // A comma and a blank between tuples, a trailing comma, doubled commas.
    const auto r = readKmlExtremes(kml("-1.5,52.25,0, -1.25,,52.25,0, -1.25,52,0, -1.5,52,0,"));
    QVERIFY2(r.ok, r.error.message.c_str());
    QCOMPARE(r.extremes.tuples, 4);
    QCOMPARE(r.extremes.maxLat, 52.25);
    QCOMPARE(r.extremes.minLong, -1.5);
}

void TestSideWindows::kmlComparesTheThirdPoint() {
    const auto r = readKmlExtremes(kml("-1.5,52.25,0 -1.25,52.25,0 7.5,-3.25,0 -1.5,52,0 -1.5,52.25,0"));
    QVERIFY(r.ok);
    QCOMPARE(r.extremes.tuples, 5);
    QCOMPARE(r.extremes.maxLong, 7.5);
    QCOMPARE(r.extremes.minLat, -3.25);
}

void TestSideWindows::kmlReadsOnlyTheFirstCoordinates() {
    QByteArray doc = kml("1,2 3,4", "kml:coordinates");
    doc.replace("<kml xmlns=", "<kml xmlns:kml=\"http://www.opengis.net/kml/2.2\" xmlns=");
    doc.replace("</Document>", "<Placemark><Point><coordinates>100,80</coordinates></Point></Placemark></Document>");
    const auto r = readKmlExtremes(doc);
    QVERIFY2(r.ok, r.error.message.c_str());
    QCOMPARE(r.extremes.maxLong, 3.0);
    QCOMPARE(r.extremes.maxLat, 4.0);
}

void TestSideWindows::kmlReportsWhatItCannotRead_data() {
    QTest::addColumn<QByteArray>("doc");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("line");
    QTest::newRow("no coordinates") << QByteArray("<kml><Document/></kml>") << "No coordinates found" << 0;
    QTest::newRow("empty coordinates") << kml(" \n ") << "No coordinates found" << 8;
    QTest::newRow("bad longitude") << kml("-1.5,52.25,0\n-1.2x,52.25,0")
                                   << "'-1.2x' is not a valid floating point value" << 9;
    QTest::newRow("bad latitude") << kml("-1.5,north,0") << "'north' is not a valid floating point value" << 8;
    QTest::newRow("no latitude") << kml("-1.5,52.25 -1.25") << "'-1.25' has no latitude" << 8;
    QTest::newRow("not xml") << QByteArray("coordinates -1.5,52") << "Not a well-formed KML file" << 1;
    QTest::newRow("broken before") << QByteArray("<kml><a></b><coordinates>1,2</coordinates></kml>")
                                   << "Not a well-formed KML file" << 1;
}

void TestSideWindows::kmlReportsWhatItCannotRead() {
    QFETCH(QByteArray, doc);
    QFETCH(QString, message);
    QFETCH(int, line);
    const auto r = readKmlExtremes(doc);
    QVERIFY(!r.ok);
    QVERIFY2(QString::fromStdString(r.error.message).startsWith(message), r.error.message.c_str());
    QCOMPARE(r.error.line, std::int64_t{line});
}

void TestSideWindows::countryWindowLayout() {
    guitest::ScriptedPrompts prompts;
    TAddCountryForm form(prompts);
    QCOMPARE(form.objectName(), QStringLiteral("AddCountryForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Create new country "));
    QVERIFY(!form.isVisible());
    QCOMPARE(form.Button1->text(), QStringLiteral("Load .kml file"));
    QCOMPARE(form.Button1->geometry(), QRect(16, 32, 121, 41));
    QCOMPARE(form.Button2->text(), QStringLiteral("Add to DataBase"));
    QCOMPARE(form.Button2->geometry(), QRect(16, 192, 121, 41));
    QCOMPARE(form.Button3->text(), QStringLiteral("Cancel"));
    QCOMPARE(form.Button3->geometry(), QRect(144, 192, 113, 41));
    QCOMPARE(form.CountryName->geometry(), QRect(16, 160, 121, 21));
    QCOMPARE(form.Label1->text(), QStringLiteral("Create path with 4 points:"));
    QCOMPARE(form.Label1->pos(), QPoint(16, 8));
    QCOMPARE(form.MaxLabel->text(), QStringLiteral("Max : "));
    QCOMPARE(form.MaxLabel->pos(), QPoint(16, 88));
    QCOMPARE(form.Minlabel->text(), QStringLiteral("Min :"));
    QCOMPARE(form.Minlabel->pos(), QPoint(16, 112));
    QCOMPARE(form.Label2->text(), QStringLiteral("Country name"));
    QCOMPARE(form.Label2->pos(), QPoint(16, 136));
    QCOMPARE(guitest::nextTabStop(form.Button1), form.CountryName);
    QCOMPARE(guitest::nextTabStop(form.CountryName), form.Button2);
    QCOMPARE(guitest::nextTabStop(form.Button2), form.Button3);

    // "Add to DataBase" before any file is loaded has no box to store and says
    // so; Cancel hides the window, contents kept.
    form.show();
    form.CountryName->setText(QStringLiteral("Wales"));
    form.Button2->click();
    QVERIFY(form.isVisible());
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("error")});
    QVERIFY(!form.boxLoaded());
    form.Button3->click();
    QVERIFY(!form.isVisible());
    QCOMPARE(form.CountryName->text(), QStringLiteral("Wales"));
}

void TestSideWindows::countryWindowShowsLatitudeFirstAndTheName() {
    QTemporaryDir dir;
    guitest::ScriptedPrompts prompts;
    TAddCountryForm form(prompts);
    QFile f(dir.filePath(QStringLiteral("France.kml")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kml(kFourPoints));
    f.close();

    prompts.files << f.fileName();
    form.Button1->click();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("open")});
    QCOMPARE(prompts.asked[0].text, QStringLiteral("*.kml"));
    QCOMPARE(form.MaxLabel->text(), QStringLiteral("Max lat,long : 00052.25 -00001.25"));
    QCOMPARE(form.Minlabel->text(), QStringLiteral("Min lat,long : 00052.00 -00001.50"));
    QCOMPARE(form.CountryName->text(), QStringLiteral("France"));

    // The name loses the folder and the last extension only.
    QFile g(dir.filePath(QStringLiteral("Isle.of.Man.kml")));
    QVERIFY(g.open(QIODevice::WriteOnly));
    g.write(kml("-4.8,54.05 -4.3,54.4"));
    g.close();
    prompts.files << g.fileName();
    form.Button1->click();
    QCOMPARE(form.CountryName->text(), QStringLiteral("Isle.of.Man"));
    QCOMPARE(form.MaxLabel->text(), QStringLiteral("Max lat,long : 00054.40 -00004.30"));
}

void TestSideWindows::countryWindowCancelAndErrorsChangeNothing() {
    QTemporaryDir dir;
    guitest::ScriptedPrompts prompts;
    TAddCountryForm form(prompts);
    QFile good(dir.filePath(QStringLiteral("Spain.kml")));
    QVERIFY(good.open(QIODevice::WriteOnly));
    good.write(kml(kFourPoints));
    good.close();
    prompts.files << good.fileName();
    form.Button1->click();
    const QString max = form.MaxLabel->text(), min = form.Minlabel->text();

    auto unchanged = [&] {
        QCOMPARE(form.MaxLabel->text(), max);
        QCOMPARE(form.Minlabel->text(), min);
        QCOMPARE(form.CountryName->text(), QStringLiteral("Spain"));
    };

    prompts.clear();
    prompts.files << std::nullopt; // cancel
    form.Button1->click();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("open")});
    unchanged();

    prompts.clear();
    prompts.files << dir.filePath(QStringLiteral("Nowhere.kml"));
    form.Button1->click();
    QCOMPARE(prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("error")}));
    QVERIFY(prompts.asked[1].text.startsWith(QStringLiteral("File not found\n")));
    QVERIFY(prompts.asked[1].text.contains(QStringLiteral("Nowhere.kml")));
    unchanged();

    QFile bad(dir.filePath(QStringLiteral("Bad.kml")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(kml("-1.5,52.25,0 x,52,0"));
    bad.close();
    prompts.clear();
    prompts.files << bad.fileName();
    form.Button1->click();
    QCOMPARE(prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("error")}));
    QVERIFY(prompts.asked[1].text.startsWith(QStringLiteral("'x' is not a valid floating point value\n")));
    QVERIFY(prompts.asked[1].text.contains(QStringLiteral("line 8")));
    unchanged();
}

void TestSideWindows::addToDatabaseWindow() {
    TAddToDatabaseForm form;
    QCOMPARE(form.objectName(), QStringLiteral("AddToDatabaseForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Add to DataBase"));
    QVERIFY(!form.isVisible());
    const std::pair<QLabel*, const char*> labels[] = {{form.CircuitNameLabel, "Circuit"},
                                                      {form.CountryLabel, "Country"},
                                                      {form.SFLineLabel, "SF Line"},
                                                      {form.FinishLineLabel, "Finish Line"},
                                                      {form.LapDistanceLabel, "Lap distance"}};
    int top = 32;
    for (const auto& [label, caption] : labels) {
        QCOMPARE(label->text(), QString::fromLatin1(caption));
        QCOMPARE(label->pos(), QPoint(24, top));
        QCOMPARE(label->font().pointSize(), 10);
        top += 24;
    }
    QCOMPARE(form.Label8->text(), QStringLiteral("Note: Lap dist only needed if multiple layouts exist"));
    QCOMPARE(form.Label8->pos(), QPoint(24, 151));
    QCOMPARE(form.Button1->geometry(), QRect(24, 176, 75, 25));
    QCOMPARE(form.Button2->geometry(), QRect(120, 176, 75, 25));
    QCOMPARE(guitest::nextTabStop(form.Button1), form.Button2);

    QVERIFY(!form.addConfirmed);
    form.show();
    form.Button1->click();
    QVERIFY(form.addConfirmed);
    QVERIFY(!form.isVisible());
    form.show();
    form.close(); // the window's own close control
    QVERIFY(form.addConfirmed);
    form.show();
    form.Button2->click();
    QVERIFY(!form.addConfirmed);
    QVERIFY(!form.isVisible());
}

void TestSideWindows::sideWindowsOpenOnTheScreen() {
    using lorvane::app::keptOnScreen;
    const QRect area(0, 0, 1280, 1000);
    // Inside already: where it is. Past an edge: moved in just enough. Larger
    // than the screen: its top left corner in view.
    QCOMPARE(keptOnScreen(QRect(100, 100, 300, 300), area), QPoint(100, 100));
    QCOMPARE(keptOnScreen(QRect(1100, 900, 300, 300), area), QPoint(980, 700));
    QCOMPARE(keptOnScreen(QRect(-50, -20, 300, 300), area), QPoint(0, 0));
    QCOMPARE(keptOnScreen(QRect(500, 500, 2000, 1500), area), QPoint(0, 0));
    QCOMPARE(keptOnScreen(QRect(1300, 10, 300, 300), QRect(1280, 0, 1920, 1080)), QPoint(1300, 10));

    // The country window, left far off the screen, comes back whole; the
    // first time it opens over the window it was asked from.
    guitest::ScriptedPrompts prompts;
    QWidget main;
    main.resize(600, 400);
    main.move(50, 50);
    main.show();
    TAddCountryForm form(prompts);
    lorvane::app::showSideWindow(&form, &main);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(screen.contains(form.frameGeometry()));
    QVERIFY(main.frameGeometry().contains(form.frameGeometry().center()));
    form.move(screen.right() - 20, screen.bottom() - 20);
    lorvane::app::showSideWindow(&form, &main);
    QVERIFY2(screen.contains(form.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                   .arg(form.frameGeometry().x())
                                                                   .arg(form.frameGeometry().y())
                                                                   .arg(form.frameGeometry().width())
                                                                   .arg(form.frameGeometry().height())));
    // Where the user put it, when that is on the screen.
    form.move(screen.x() + 10, screen.y() + 10);
    lorvane::app::showSideWindow(&form, &main);
    QCOMPARE(form.pos(), QPoint(screen.x() + 10, screen.y() + 10));
}

QTEST_MAIN(TestSideWindows)
#include "test_side_windows.moc"
