#include "gui/app/gate_rules_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace lorvane::app {

GateRulesDialog::GateRulesDialog(const GateRules& r, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("GateRulesDialog"));
    setWindowTitle(tr("Gate rules"));
    auto* form = new QFormLayout;

    direction = new QComboBox(this);
    direction->setObjectName(QStringLiteral("Direction"));
    direction->addItem(tr("Both ways"), static_cast<int>(GateDirection::Both));
    direction->addItem(tr("Forward only (towards the gate's second point)"),
                       static_cast<int>(GateDirection::Forward));
    direction->addItem(tr("Reverse only"), static_cast<int>(GateDirection::Reverse));
    direction->setCurrentIndex(direction->findData(static_cast<int>(r.direction)));
    form->addRow(tr("Direction:"), direction);

    widthSet = new QCheckBox(tr("Gate reaches"), this);
    widthSet->setObjectName(QStringLiteral("WidthSet"));
    widthSet->setChecked(r.gateWidth.has_value());
    width = new QDoubleSpinBox(this);
    width->setObjectName(QStringLiteral("Width"));
    width->setRange(0.5, 1000);
    width->setDecimals(1);
    width->setSuffix(tr(" m each side, at the crossing point"));
    width->setValue(r.gateWidth.value_or(25.0));
    width->setEnabled(widthSet->isChecked());
    connect(widthSet, &QCheckBox::toggled, width, &QWidget::setEnabled);
    form->addRow(widthSet, width);
    auto* note = new QLabel(
        tr("Unticked: the sample after the line must lie within 25 m of the gate's centre."), this);
    note->setWordWrap(true);
    form->addRow(QString(), note);

    minLap = new QDoubleSpinBox(this);
    minLap->setObjectName(QStringLiteral("MinLap"));
    minLap->setRange(0, 86400);
    minLap->setDecimals(1);
    minLap->setSuffix(tr(" s"));
    minLap->setValue(r.minLap);
    form->addRow(tr("Shortest lap:"), minLap);

    maxGap = new QDoubleSpinBox(this);
    maxGap->setObjectName(QStringLiteral("MaxGap"));
    maxGap->setRange(0, 86400);
    maxGap->setDecimals(1);
    maxGap->setSuffix(tr(" s"));
    maxGap->setSpecialValueText(tr("No limit"));
    maxGap->setValue(r.maxGap > 0 ? r.maxGap : 0);
    form->addRow(tr("Longest pause in a run:"), maxGap);
    auto* gapNote = new QLabel(
        tr("A longer stretch without a fix ends the run: no lap is timed across it."), this);
    gapNote->setWordWrap(true);
    form->addRow(QString(), gapNote);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

GateRules GateRulesDialog::rules() const {
    GateRules r;
    r.direction = static_cast<GateDirection>(direction->currentData().toInt());
    if (widthSet->isChecked()) r.gateWidth = width->value();
    r.minLap = minLap->value();
    r.maxGap = maxGap->value();
    return r;
}

} // namespace lorvane::app
