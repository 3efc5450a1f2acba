// The Laps > Gate rules window: which direction across a gate counts, how far
// from its centre the gate reaches, the shortest lap and the longest pause
// in the recording that does not end a run.
#pragma once

#include <QDialog>

#include "laps/gate_rules.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;

namespace lorvane::app {

class GateRulesDialog : public QDialog {
    Q_OBJECT
public:
    explicit GateRulesDialog(const GateRules& rules, QWidget* parent = nullptr);
    GateRules rules() const;

    QComboBox* direction;
    QCheckBox* widthSet;
    QDoubleSpinBox* width;
    QDoubleSpinBox* minLap;
    QDoubleSpinBox* maxGap;
};

} // namespace lorvane::app
