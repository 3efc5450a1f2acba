#include "gui/dbtools/uAddCountryForm.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "circuits/circuit_db.h"
#include "formats/diagnostic.h"
#include "formats/numbers.h"
#include "gui/common/prompts.h"
#include "gui/common/window_style.h"
#include "gui/dbtools/circuit_store.h"
#include "gui/dbtools/kml.h"

namespace {

// A KML path of a few points is small; anything beyond this is not one.
constexpr qint64 kMaxKmlBytes = 64 << 20;

QString fixed(double v) {
    return QString::fromStdString(lorvane::formatFixed(v, 5, 2));
}

lorvane::Diagnostic message(const char* text) {
    lorvane::Diagnostic d;
    d.message = text;
    return d;
}

QString describe(lorvane::Diagnostic d, const QString& path) {
    d.file = QFile::encodeName(path).toStdString();
    return QString::fromStdString(d.describe());
}

} // namespace

TAddCountryForm::TAddCountryForm(lorvane::app::Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), prompts_(prompts) {
    using namespace lorvane::app;
    setObjectName(QStringLiteral("AddCountryForm"));
    setWindowTitle(QStringLiteral("Create new country "));
    setFont(designFont());
    setFixedSize(clientSizeFor(285, 287));

    Label1 = makeLabel(this, "Label1", "Create path with 4 points:", 16, 8, 0);
    Button1 = makeButton(this, "Button1", "Load .kml file", 16, 32, 121, 41);
    MaxLabel = makeLabel(this, "MaxLabel", "Max : ", 16, 88, 0);
    Minlabel = makeLabel(this, "Minlabel", "Min :", 16, 112, 0);
    CountryName = new QLineEdit(this);
    CountryName->setObjectName(QStringLiteral("CountryName"));
    CountryName->setGeometry(16, 160, 121, 21);
    Label2 = makeLabel(this, "Label2", "Country name", 16, 136, 0);
    Button2 = makeButton(this, "Button2", "Add to DataBase", 16, 192, 121, 41);
    Button3 = makeButton(this, "Button3", "Cancel", 144, 192, 113, 41);

    setTabOrder(Button1, CountryName);
    setTabOrder(CountryName, Button2);
    setTabOrder(Button2, Button3);

    connect(Button1, &QPushButton::clicked, this, &TAddCountryForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TAddCountryForm::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TAddCountryForm::Button3Click);
}

void TAddCountryForm::Button1Click() {
    const auto path = prompts_.openFile(this, QString(), QStringLiteral("*.kml"));
    if (!path) return;

    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly)) {
        prompts_.error(this, describe(message(lorvane::kFileNotFound), *path));
        return;
    }
    if (file.size() > kMaxKmlBytes) {
        prompts_.error(this, describe(message("File too large for a KML path"), *path));
        return;
    }
    const lorvane::dbtools::KmlResult r = lorvane::dbtools::readKmlExtremes(file.readAll());
    if (!r.ok) {
        prompts_.error(this, describe(r.error, *path));
        return;
    }
    const auto& e = r.extremes;
    kmlMaxLat = e.maxLat;
    kmlMinLat = e.minLat;
    kmlMaxLong = e.maxLong;
    kmlMinLong = e.minLong;
    boxLoaded_ = true;

    // Latitude first, as the captions say.
    MaxLabel->setText(QStringLiteral("Max lat,long : ") + fixed(e.maxLat) + u' ' +
                      fixed(e.maxLong));
    Minlabel->setText(QStringLiteral("Min lat,long : ") + fixed(e.minLat) + u' ' +
                      fixed(e.minLong));
    MaxLabel->adjustSize();
    Minlabel->adjustSize();
    CountryName->setText(QFileInfo(*path).completeBaseName());
}

void TAddCountryForm::Button2Click() {
    if (!boxLoaded_) {
        prompts_.error(
            this,
            QStringLiteral(
                "Load a .kml file with the country's path first: it gives the country's box."));
        return;
    }
    lorvane::Country c;
    c.name = CountryName->text().trimmed().toStdString();
    c.minLat = kmlMinLat * 60;
    c.maxLat = kmlMaxLat * 60;
    c.minLong = kmlMinLong * 60;
    c.maxLong = kmlMaxLong * 60;
    auto db = lorvane::dbtools::openCircuitDb(dbPath_, prompts_, this);
    if (!db) return;
    try {
        db->addCountry(c);
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, lorvane::dbtools::errorText(e.diagnostic()));
        return;
    }
    const QString name = QString::fromStdString(c.name);
    prompts_.inform(this, lorvane::app::programTitle(),
                    QStringLiteral("Country \"%1\" added to the circuit database.").arg(name));
    emit countryAdded(name);
}

void TAddCountryForm::Button3Click() {
    close();
}
