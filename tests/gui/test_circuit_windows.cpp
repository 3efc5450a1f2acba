// The windows over the circuit database: the country window's "Add to
// DataBase", the add-to-database window's OK and Cancel, the Circuits window,
// and the main window's hooks into them.
#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "circuits/circuit_db.h"
#include "gui/app/Unit1.h"
#include "gui/dbtools/circuit_store.h"
#include "gui/dbtools/uAddCountryForm.h"
#include "gui/dbtools/uAddToDataBase.h"
#include "gui/dbtools/uCircuitsForm.h"
#include "gui/display/track_plot.h"
#include "gui_support.h"

using guitest::ScriptedPrompts;
using lorvane::Circuit;
using lorvane::CircuitDb;

namespace {

// A gate near 51.5 N, 1 W.
lorvane::StartFinish gates(double lat = 3090, double lon = -60) {
    lorvane::StartFinish sf;
    sf.start = {lat, lon, lat + 0.0001, lon + 0.00005};
    return sf;
}

Circuit circuit(const std::string& name, double lat = 3090) {
    Circuit c;
    c.name = name;
    c.start = gates(lat).start;
    return c;
}

QStringList listed(const TCircuitsForm& w) {
    QStringList out;
    for (int i = 0; i < w.CircuitList->count(); ++i) out << w.CircuitList->item(i)->data(Qt::UserRole).toString();
    return out;
}

void writeText(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

const QByteArray kKml = "<?xml version=\"1.0\"?><kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document><Placemark>"
                        "<LineString><coordinates>\n\t-1.5,52.25,0 -1.25,52.25,0 -1.25,52,0 -1.5,52,0\n"
                        "</coordinates></LineString></Placemark></Document></kml>\n";

} // namespace

class TestCircuitWindows : public QObject {
    Q_OBJECT
private slots:
    void countryWindowStoresTheBoxShown();
    void addWindowProposesFromTheLoadedFiles();
    void addWindowOkStoresAndCancelStoresNothing();
    void addWindowRefusalsKeepTheWindowOpen();
    void damagedDatabaseIsReportedNotFatal();
    void circuitsWindowListsSearchesRenamesDeletes();
    void circuitsWindowExportsAndImports();
    void mainWindowPassesTheLoadedLog();
};

void TestCircuitWindows::countryWindowStoresTheBoxShown() {
    QTemporaryDir dir;
    const std::string db = guitest::toPath(dir.filePath(QStringLiteral("data/circuits.db")));
    ScriptedPrompts prompts;
    TAddCountryForm form(prompts);
    form.setCircuitDbPath(db);
    QSignalSpy added(&form, &TAddCountryForm::countryAdded);

    // Nothing loaded yet: nothing to store, and no file made.
    form.CountryName->setText(QStringLiteral("Nowhere"));
    form.Button2->click();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("error")});
    QVERIFY(!QFile::exists(QString::fromStdString(db)));

    const QString kml = dir.filePath(QStringLiteral("Midlands.kml"));
    writeText(kml, kKml);
    prompts.clear();
    prompts.files << kml;
    form.Button1->click();
    QCOMPARE(form.CountryName->text(), QStringLiteral("Midlands"));
    form.CountryName->setText(QStringLiteral(" Middle England "));
    form.Button2->click();
    QCOMPARE(prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("inform")}));
    QCOMPARE(added.count(), 1);
    QCOMPARE(added[0][0].toString(), QStringLiteral("Middle England"));

    auto countries = CircuitDb::open(db).countries();
    QCOMPARE(countries.size(), std::size_t{1});
    QCOMPARE(countries[0].name, std::string("Middle England"));
    QCOMPARE(countries[0].minLat, 52.0 * 60);
    QCOMPARE(countries[0].maxLat, 52.25 * 60);
    QCOMPARE(countries[0].minLong, -1.5 * 60);
    QCOMPARE(countries[0].maxLong, -1.25 * 60);

    // The same name again is refused and stores nothing more.
    prompts.clear();
    form.CountryName->setText(QStringLiteral("middle england"));
    form.Button2->click();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("error")});
    QVERIFY(prompts.asked[0].text.contains(QStringLiteral("already")));
    QCOMPARE(CircuitDb::open(db).countries().size(), std::size_t{1});
    QCOMPARE(added.count(), 1);
}

void TestCircuitWindows::addWindowProposesFromTheLoadedFiles() {
    QTemporaryDir dir;
    const std::string db = guitest::toPath(dir.filePath(QStringLiteral("c.db")));
    CircuitDb::open(db).addCountry({0, "Land", 3000, -100, 3200, 0});
    ScriptedPrompts prompts;
    TAddToDatabaseForm form(prompts);
    form.setCircuitDbPath(db);
    // The captions stay; the values sit beside them.
    QCOMPARE(form.CircuitNameLabel->text(), QStringLiteral("Circuit"));
    QCOMPARE(form.SFLineValue->text(), QStringLiteral("-"));

    lorvane::StartFinish sf = gates();
    sf.finish = {3091, -61, 3091.0001, -61};
    sf.hasFinishLine = true;
    form.proposeCircuit(QStringLiteral("/tracks/Club Circuit.gxr"), sf, 2503.64);
    QVERIFY(form.hasProposal());
    QCOMPARE(form.CircuitNameEdit->text(), QStringLiteral("Club Circuit"));
    QCOMPARE(form.CountryValue->text(), QStringLiteral("Land"));
    QCOMPARE(form.SFLineValue->text(), QStringLiteral("51.50000, -1.00000 to 51.50000, -1.00000"));
    QCOMPARE(form.FinishLineValue->text(), QStringLiteral("51.51667, -1.01667 to 51.51667, -1.01667"));
    QCOMPARE(form.SFLineValue->toolTip(), QStringLiteral("51.500000, -1.000000 to 51.500002, -0.999999"));
    QCOMPARE(form.LapDistanceEdit->text(), QStringLiteral("2503.6"));
    QVERIFY(prompts.asked.isEmpty());

    // Elsewhere: no country; no finish line; no distance.
    form.proposeCircuit(QStringLiteral("far.gxr"), gates(-2000, 500), std::nullopt);
    QCOMPARE(form.CountryValue->text(), QStringLiteral("none stored for this place"));
    QCOMPARE(form.FinishLineValue->text(), QStringLiteral("none (the start/finish line)"));
    QCOMPARE(form.LapDistanceEdit->text(), QString());

    form.clearProposal();
    QVERIFY(!form.hasProposal());
    QCOMPARE(form.CircuitNameEdit->text(), QString());
}

void TestCircuitWindows::addWindowOkStoresAndCancelStoresNothing() {
    QTemporaryDir dir;
    const std::string db = guitest::toPath(dir.filePath(QStringLiteral("c.db")));
    CircuitDb::open(db).addCountry({0, "Land", 3000, -100, 3200, 0});
    ScriptedPrompts prompts;
    TAddToDatabaseForm form(prompts);
    form.setCircuitDbPath(db);
    QSignalSpy added(&form, &TAddToDatabaseForm::circuitAdded);

    form.proposeCircuit(QStringLiteral("Club.gxr"), gates(), 1900.26);
    form.show();
    form.Button2->click(); // Cancel
    QVERIFY(!form.isVisible());
    QVERIFY(!form.addConfirmed);
    QVERIFY(CircuitDb::open(db).circuits().empty());

    form.show();
    form.CircuitNameEdit->setText(QStringLiteral("Club layout"));
    form.Button1->click(); // OK
    QVERIFY(!form.isVisible());
    QVERIFY(form.addConfirmed);
    QCOMPARE(added.count(), 1);
    QVERIFY(prompts.asked.isEmpty());
    auto c = CircuitDb::open(db).findByName("Club layout");
    QVERIFY(c);
    QCOMPARE(c->country, std::optional<std::string>("Land"));
    QCOMPARE(c->start.lat1, 3090.0);
    QVERIFY(!c->finish);
    QCOMPARE(c->lapDistance, std::optional<double>(1900.3)); // as shown

    // A second layout on the same start line, without a distance.
    form.proposeCircuit(QStringLiteral("Club.gxr"), gates(), std::nullopt);
    form.CircuitNameEdit->setText(QStringLiteral("Club short"));
    form.Button1->click();
    QCOMPARE(CircuitDb::open(db).circuits().size(), std::size_t{2});
    QVERIFY(!CircuitDb::open(db).findByName("Club short")->lapDistance);

    // With nothing proposed, OK only records the answer.
    form.clearProposal();
    form.addConfirmed = false;
    form.Button1->click();
    QVERIFY(form.addConfirmed);
    QCOMPARE(CircuitDb::open(db).circuits().size(), std::size_t{2});
}

void TestCircuitWindows::addWindowRefusalsKeepTheWindowOpen() {
    QTemporaryDir dir;
    const std::string db = guitest::toPath(dir.filePath(QStringLiteral("c.db")));
    CircuitDb::open(db).addCircuit(circuit("Taken"));
    ScriptedPrompts prompts;
    TAddToDatabaseForm form(prompts);
    form.setCircuitDbPath(db);
    form.proposeCircuit(QStringLiteral("TAKEN.gxr"), gates(), 1000);
    form.show();

    form.Button1->click(); // the name is taken
    QVERIFY(form.isVisible());
    QVERIFY(!form.addConfirmed);
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("error")});
    QVERIFY(prompts.asked[0].text.contains(QStringLiteral("already")));

    prompts.clear();
    form.CircuitNameEdit->setText(QStringLiteral("   "));
    form.Button1->click();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("error")});

    prompts.clear();
    form.CircuitNameEdit->setText(QStringLiteral("Fresh"));
    form.LapDistanceEdit->setText(QStringLiteral("12,5 km"));
    form.Button1->click();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("error")});
    QVERIFY(form.isVisible());
    QCOMPARE(CircuitDb::open(db).circuits().size(), std::size_t{1});

    // Corrected, it goes in.
    prompts.clear();
    form.LapDistanceEdit->setText(QStringLiteral("1250"));
    form.Button1->click();
    QVERIFY(prompts.asked.isEmpty());
    QVERIFY(!form.isVisible());
    QVERIFY(form.addConfirmed);
    QCOMPARE(CircuitDb::open(db).findByName("fresh")->lapDistance, std::optional<double>(1250));
}

void TestCircuitWindows::damagedDatabaseIsReportedNotFatal() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.db"));
    QByteArray bytes("SQLite format 3");
    bytes.append('\0');
    bytes.append(QByteArray(3000, 'x'));
    writeText(path, bytes);
    const std::string db = guitest::toPath(path);
    ScriptedPrompts prompts;

    TAddToDatabaseForm add(prompts);
    add.setCircuitDbPath(db);
    add.proposeCircuit(QStringLiteral("A.gxr"), gates(), std::nullopt);
    add.show();
    add.Button1->click();
    QCOMPARE(prompts.kinds(), (QStringList{QStringLiteral("error"), QStringLiteral("error")}));
    QVERIFY(prompts.asked[0].text.contains(QStringLiteral("damaged")));
    QVERIFY(prompts.asked[0].text.contains(path));
    QVERIFY(add.isVisible());
    QVERIFY(!add.addConfirmed);

    prompts.clear();
    TCircuitsForm list(prompts);
    list.setCircuitDbPath(db);
    list.show();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("error")});
    QCOMPARE(list.CircuitList->count(), 0);
    QVERIFY(!list.DeleteButton->isEnabled());
    QCOMPARE(guitest::readAll(path), bytes);
}

void TestCircuitWindows::circuitsWindowListsSearchesRenamesDeletes() {
    QTemporaryDir dir;
    const std::string db = guitest::toPath(dir.filePath(QStringLiteral("c.db")));
    {
        CircuitDb d = CircuitDb::open(db);
        d.addCountry({0, "Land", 3000, -100, 3200, 0});
        Circuit a = circuit("Alpha");
        a.country = "Land";
        a.lapDistance = 3200;
        d.addCircuit(a);
        d.addCircuit(circuit("beta"));
        d.addCircuit(circuit("Gamma"));
    }
    ScriptedPrompts prompts;
    TCircuitsForm w(prompts);
    w.setCircuitDbPath(db);
    w.show();
    QCOMPARE(listed(w), (QStringList{"Alpha", "beta", "Gamma"}));
    QCOMPARE(w.CircuitList->item(0)->text(), QStringLiteral("Alpha  (Land)  3200.0 m"));
    QVERIFY(!w.RenameButton->isEnabled());

    w.SearchEdit->setText(QStringLiteral("a"));
    QCOMPARE(listed(w), (QStringList{"Alpha", "beta", "Gamma"}));
    w.SearchEdit->setText(QStringLiteral("LAND"));
    QCOMPARE(listed(w), QStringList{"Alpha"});
    w.SearchEdit->clear();

    w.CircuitList->setCurrentRow(1);
    QCOMPARE(w.selectedName(), QStringLiteral("beta"));
    QCOMPARE(w.NameEdit->text(), QStringLiteral("beta"));
    QVERIFY(w.DetailsLabel->text().startsWith(QStringLiteral("Start/finish line: 51.500000, -1.000000")));
    w.NameEdit->setText(QStringLiteral("Beta long"));
    w.RenameButton->click();
    QCOMPARE(listed(w), (QStringList{"Alpha", "Beta long", "Gamma"}));
    QCOMPARE(w.selectedName(), QStringLiteral("Beta long"));
    QVERIFY(CircuitDb::open(db).findByName("Beta long"));

    w.NameEdit->setText(QStringLiteral("GAMMA"));
    w.RenameButton->click();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("error")});
    QCOMPARE(listed(w), (QStringList{"Alpha", "Beta long", "Gamma"}));

    prompts.clear();
    prompts.answers << false;
    w.DeleteButton->click();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("confirm")});
    QCOMPARE(listed(w).size(), 3);
    prompts.answers << true;
    w.DeleteButton->click();
    QCOMPARE(listed(w), (QStringList{"Alpha", "Gamma"}));
    QCOMPARE(CircuitDb::open(db).circuits().size(), std::size_t{2});

    // A change made elsewhere (the command line) shows on the next activation.
    CircuitDb::open(db).addCircuit(circuit("Delta"));
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&w, &activate);
    QCOMPARE(listed(w), (QStringList{"Alpha", "Delta", "Gamma"}));
    QCOMPARE(prompts.unexpected, 0);
}

void TestCircuitWindows::circuitsWindowExportsAndImports() {
    QTemporaryDir dir;
    const std::string db = guitest::toPath(dir.filePath(QStringLiteral("c.db")));
    Circuit a = circuit("Alpha");
    a.finish = gates(3091, -61).start;
    CircuitDb::open(db).addCircuit(a);
    ScriptedPrompts prompts;
    TCircuitsForm w(prompts);
    w.setCircuitDbPath(db);
    w.show();
    w.CircuitList->setCurrentRow(0);

    const QString out = dir.filePath(QStringLiteral("alpha-out.gxr"));
    prompts.files << out;
    w.ExportButton->click();
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("save")});
    QCOMPARE(prompts.asked[0].text, QStringLiteral("Alpha.gxr"));
    lorvane::StartFinish back = lorvane::readStartFinishFile(guitest::toPath(out));
    QCOMPARE(back.start.lat1, a.start.lat1);
    QCOMPARE(back.start.long2, a.start.long2);
    QVERIFY(back.hasFinishLine);
    QCOMPARE(back.finish.lat1, 3091.0);

    // Cancelled: nothing written.
    const QByteArray before = guitest::readAll(out);
    prompts.clear();
    prompts.files << std::nullopt;
    w.ExportButton->click();
    QCOMPARE(guitest::readAll(out), before);

    // Import: the good files go in, the others are reported by name.
    const QString folder = dir.filePath(QStringLiteral("gxr"));
    QVERIFY(QDir().mkpath(folder));
    auto gxr = [](double lat) { return QByteArray::fromStdString(lorvane::composeStartFinishText(gates(lat))); };
    writeText(folder + QStringLiteral("/North.gxr"), gxr(3100));
    writeText(folder + QStringLiteral("/South.gxr"), gxr(3080));
    writeText(folder + QStringLiteral("/Alpha.gxr"), gxr(3070));
    writeText(folder + QStringLiteral("/Broken.gxr"), "[Start finish]\r\n1 2\r\n");
    prompts.clear();
    w.chooseFolder = [&](QWidget*) { return std::optional<QString>(folder); };
    w.ImportButton->click();
    QCOMPARE(listed(w), (QStringList{"Alpha", "North", "South"}));
    QCOMPARE(prompts.kinds(), QStringList{QStringLiteral("error")});
    QVERIFY(prompts.asked[0].text.contains(QStringLiteral("Alpha.gxr")));
    QVERIFY(prompts.asked[0].text.contains(QStringLiteral("Broken.gxr")));
    QVERIFY(w.StatusLabel->text().startsWith(QStringLiteral("Imported 2 circuit(s)")));
    QCOMPARE(CircuitDb::open(db).findByName("Alpha")->start.lat1, 3090.0); // not replaced

    prompts.clear();
    w.chooseFolder = [](QWidget*) { return std::optional<QString>(); };
    w.ImportButton->click();
    QVERIFY(prompts.asked.isEmpty());
}

void TestCircuitWindows::mainWindowPassesTheLoadedLog() {
    guitest::SessionFiles files(guitest::sessionOptions(31, 4, false));
    QTemporaryDir dir;
    const std::string db = guitest::toPath(dir.filePath(QStringLiteral("c.db")));
    lorvane::Session session;
    ScriptedPrompts prompts;
    TForm1 form(session, prompts);
    TAddToDatabaseForm add(prompts);
    TAddCountryForm country(prompts);
    TCircuitsForm circuits(prompts);
    add.setCircuitDbPath(db);
    circuits.setCircuitDbPath(db);
    form.setSideWindows(&add, &country);
    form.setCircuitsWindow(&circuits);

    // Nothing loaded: the window opens empty.
    guitest::ui(form).actAddToDatabase->trigger();
    QVERIFY(add.isVisible());
    QVERIFY(!add.hasProposal());
    add.Button2->click();

    // Split lines in the file beside the .gxr.
    const std::vector<lorvane::Gate> splits{{3090.01, -60.002, 3090.02, -60.001}, {3091, -61, 3091.001, -61}};
    writeText(QFileInfo(files.gxr).path() + QStringLiteral("/demo.splits"),
              QByteArray::fromStdString(lorvane::composeSplitLinesText(splits)));
    QSignalSpy ended(&form, &TForm1::loadEnded);
    form.openFiles({files.gxr, files.zlg});
    QVERIFY(ended.count() == 1 || ended.wait(60000));
    QVERIFY(session.bestLap() > 0);
    // The laps cut one way across a 10 m gate.
    const lorvane::GateRules rules{session.crossings().front().forward ? lorvane::GateDirection::Forward
                                                                       : lorvane::GateDirection::Reverse,
                                   10.0, 20};
    form.applyGateRules(rules);
    QVERIFY(session.bestLap() > 0);

    guitest::ui(form).actAddToDatabase->trigger();
    QVERIFY(add.hasProposal());
    QCOMPARE(add.CircuitNameEdit->text(), QStringLiteral("demo"));
    const double distance = add.LapDistanceEdit->text().toDouble();
    QVERIFY2(std::abs(distance - files.session.lapLength) < 0.03 * files.session.lapLength,
             qPrintable(QStringLiteral("%1 against %2").arg(distance).arg(files.session.lapLength)));
    add.Button1->click();
    QVERIFY(add.addConfirmed);

    guitest::ui(form).actCircuits->trigger();
    QVERIFY(circuits.isVisible());
    QCOMPARE(listed(circuits), QStringList{"demo"});
    // The stored circuit finds this log's track.
    std::vector<lorvane::GeoSample> track;
    for (const auto& s : files.session.samples) track.push_back({s.lat(), s.lon()});
    auto found = CircuitDb::open(db).findCircuitsForTrack(track);
    QCOMPARE(found.size(), std::size_t{1});
    QCOMPARE(found[0].circuit.name, std::string("demo"));
    // Stored with the rules and split lines the laps were cut with.
    QVERIFY(found[0].circuit.rules.direction == rules.direction);
    QCOMPARE(found[0].circuit.rules.gateWidth, std::optional<double>(10.0));
    QCOMPARE(found[0].circuit.rules.minLap, 20.0);
    QCOMPARE(found[0].circuit.splits.size(), splits.size());
    QCOMPARE(found[0].circuit.splits[1].lat2, 3091.001);
    QCOMPARE(prompts.unexpected, 0);
}

QTEST_MAIN(TestCircuitWindows)
#include "test_circuit_windows.moc"
