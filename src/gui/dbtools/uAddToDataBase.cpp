#include "gui/dbtools/uAddToDataBase.h"

#include <QLabel>
#include <QPushButton>

#include "gui/common/window_style.h"

TAddToDatabaseForm::TAddToDatabaseForm(QWidget* parent) : QWidget(parent, Qt::Window) {
    using namespace lorvane::app;
    setObjectName(QStringLiteral("AddToDatabaseForm"));
    setWindowTitle(QStringLiteral("Add to DataBase"));
    setFont(designFont());
    setFixedSize(clientSizeFor(388, 283));

    CircuitNameLabel = makeLabel(this, "CircuitNameLabel", "Circuit", 24, 32, 10);
    CountryLabel = makeLabel(this, "CountryLabel", "Country", 24, 56, 10);
    setTextColour(CountryLabel, Qt::black);
    Button1 = makeButton(this, "Button1", "OK", 24, 176, 75, 25);
    Button2 = makeButton(this, "Button2", "Cancel", 120, 176, 75, 25);
    SFLineLabel = makeLabel(this, "SFLineLabel", "SF Line", 24, 80, 10);
    LapDistanceLabel = makeLabel(this, "LapDistanceLabel", "Lap distance", 24, 128, 10);
    Label8 = makeLabel(this, "Label8", "Note: Lap dist only needed if multiple layouts exist",
                       24, 151, 0);
    FinishLineLabel = makeLabel(this, "FinishLineLabel", "Finish Line", 24, 104, 10);

    setTabOrder(Button1, Button2);
    connect(Button1, &QPushButton::clicked, this, &TAddToDatabaseForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TAddToDatabaseForm::Button2Click);
    move(kDesignLeft, kDesignTop);
}

void TAddToDatabaseForm::Button2Click() {
    addConfirmed = false;
    close();
}

void TAddToDatabaseForm::Button1Click() {
    addConfirmed = true;
    close();
}
