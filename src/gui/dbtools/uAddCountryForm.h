// AddCountryForm: derives a country's bounding box from a four-point path in
// a KML file and proposes the file's name as the country name.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace lorvane::app {
class Prompts;
}

class TAddCountryForm : public QWidget {
    Q_OBJECT
public:
    explicit TAddCountryForm(lorvane::app::Prompts& prompts, QWidget* parent = nullptr);

    QLabel* Label1;
    QPushButton* Button1; // Load .kml file
    QLabel* MaxLabel;
    QLabel* Minlabel;
    QLineEdit* CountryName;
    QLabel* Label2;
    QPushButton* Button2; // Add to DataBase: no action
    QPushButton* Button3; // Cancel

    // Extremes of the latest file read, degrees.
    double kmlMaxLat = 0, kmlMinLat = 0, kmlMaxLong = 0, kmlMinLong = 0;

public slots:
    void Button1Click();
    void Button3Click();

private:
    lorvane::app::Prompts& prompts_;
};
