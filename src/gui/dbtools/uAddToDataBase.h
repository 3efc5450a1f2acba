// AddToDatabaseForm: the details of a circuit to be added to a circuit
// database, with OK and Cancel. The answer is kept in addConfirmed.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

class TAddToDatabaseForm : public QWidget {
    Q_OBJECT
public:
    explicit TAddToDatabaseForm(QWidget* parent = nullptr);

    QLabel* CircuitNameLabel;
    QLabel* CountryLabel;
    QPushButton* Button1; // OK
    QPushButton* Button2; // Cancel
    QLabel* SFLineLabel;
    QLabel* LapDistanceLabel;
    QLabel* Label8;
    QLabel* FinishLineLabel;

    // Last answer: true after OK, false after Cancel (and at the main
    // window's first activation).
    bool addConfirmed = false;

    // Where the window is placed on the screen.
    static constexpr int kDesignLeft = 871, kDesignTop = 271;

public slots:
    void Button2Click();
    void Button1Click();
};
