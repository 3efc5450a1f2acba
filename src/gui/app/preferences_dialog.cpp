#include "gui/app/preferences_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace lorvane::app {

PreferencesDialog::PreferencesDialog(const Units& units, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PreferencesDialog"));
    setWindowTitle(tr("Preferences"));
    auto* box = new QGroupBox(tr("Units"), this);
    auto* form = new QFormLayout(box);
    speed = new QComboBox(box);
    speed->setObjectName(QStringLiteral("SpeedUnitBox"));
    speed->addItem(tr("km/h"), static_cast<int>(SpeedUnit::Kmh));
    speed->addItem(tr("mph"), static_cast<int>(SpeedUnit::Mph));
    speed->setCurrentIndex(speed->findData(static_cast<int>(units.speed)));
    distance = new QComboBox(box);
    distance->setObjectName(QStringLiteral("DistanceUnitBox"));
    distance->addItem(tr("metres (m)"), static_cast<int>(DistanceUnit::Metres));
    distance->addItem(tr("feet (ft)"), static_cast<int>(DistanceUnit::Feet));
    distance->setCurrentIndex(distance->findData(static_cast<int>(units.distance)));
    form->addRow(tr("&Speed:"), speed);
    form->addRow(tr("&Distance:"), distance);
    auto* note = new QLabel(tr("Used by the lap table, the strip chart and the exported lap "
                               "CSV. The command line keeps km/h and metres."),
                            this);
    note->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(box);
    layout->addWidget(note);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

Units PreferencesDialog::units() const {
    Units u;
    u.speed = speed->currentData().toInt() == static_cast<int>(SpeedUnit::Mph) ? SpeedUnit::Mph
                                                                               : SpeedUnit::Kmh;
    u.distance = distance->currentData().toInt() == static_cast<int>(DistanceUnit::Feet)
                     ? DistanceUnit::Feet
                     : DistanceUnit::Metres;
    return u;
}

} // namespace lorvane::app
