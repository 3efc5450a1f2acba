// AddCountryForm: derives a country's bounding box from a four-point path in
// a KML file, proposes the file's name as the country name, and stores the
// country with that box in the circuit database.
#pragma once

#include <string>

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
    QPushButton* Button2; // Add to DataBase
    QPushButton* Button3; // Cancel

    // Extremes of the latest file read, degrees.
    double kmlMaxLat = 0, kmlMinLat = 0, kmlMaxLong = 0, kmlMinLong = 0;
    bool boxLoaded() const { return boxLoaded_; }

    // The database "Add to DataBase" writes to; empty: the user's default one.
    void setCircuitDbPath(const std::string& path) { dbPath_ = path; }

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();

signals:
    void countryAdded(const QString& name);

private:
    lorvane::app::Prompts& prompts_;
    std::string dbPath_;
    bool boxLoaded_ = false;
};
