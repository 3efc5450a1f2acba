// Tools > Preferences: the units speeds and distances are shown in, in the
// window and in the exported lap CSV.
#pragma once

#include <QDialog>

#include "analysis/units.h"

class QComboBox;

namespace lorvane::app {

class PreferencesDialog : public QDialog {
    Q_OBJECT
public:
    explicit PreferencesDialog(const Units& units, QWidget* parent = nullptr);
    Units units() const;

    QComboBox* speed;
    QComboBox* distance;
};

} // namespace lorvane::app
