#include "gui/dbtools/uAddToDataBase.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "circuits/circuit_db.h"
#include "formats/numbers.h"
#include "gui/common/prompts.h"
#include "gui/common/window_style.h"
#include "gui/dbtools/circuit_store.h"

namespace {

lorvane::app::Prompts& programPrompts() {
    static lorvane::app::DialogPrompts prompts;
    return prompts;
}

constexpr int kValueLeft = 120, kValueWidth = 262;
// Five decimals of a degree: about a metre, and the line fits the window.
constexpr int kGateDecimals = 5;
const QString kNone = QStringLiteral("-");

} // namespace

TAddToDatabaseForm::TAddToDatabaseForm(QWidget* parent)
    : TAddToDatabaseForm(programPrompts(), parent) {}

TAddToDatabaseForm::TAddToDatabaseForm(lorvane::app::Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), prompts_(prompts) {
    build();
}

void TAddToDatabaseForm::build() {
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
    Label8 = makeLabel(this, "Label8", "Note: Lap dist only needed if multiple layouts exist", 24,
                       151, 0);
    FinishLineLabel = makeLabel(this, "FinishLineLabel", "Finish Line", 24, 104, 10);

    CircuitNameEdit = new QLineEdit(this);
    CircuitNameEdit->setObjectName(QStringLiteral("CircuitNameEdit"));
    CircuitNameEdit->setGeometry(kValueLeft, 30, 250, 21);
    CountryValue = makeLabel(this, "CountryValue", kNone, kValueLeft, 58, 0);
    SFLineValue = makeLabel(this, "SFLineValue", kNone, kValueLeft, 82, 0);
    FinishLineValue = makeLabel(this, "FinishLineValue", kNone, kValueLeft, 106, 0);
    LapDistanceEdit = new QLineEdit(this);
    LapDistanceEdit->setObjectName(QStringLiteral("LapDistanceEdit"));
    LapDistanceEdit->setGeometry(kValueLeft, 126, 100, 21);
    LapDistanceEdit->setPlaceholderText(QStringLiteral("metres"));
    for (QLabel* l : {CountryValue, SFLineValue, FinishLineValue}) l->setFixedWidth(kValueWidth);

    setTabOrder(CircuitNameEdit, LapDistanceEdit);
    setTabOrder(LapDistanceEdit, Button1);
    setTabOrder(Button1, Button2);
    connect(Button1, &QPushButton::clicked, this, &TAddToDatabaseForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TAddToDatabaseForm::Button2Click);
    move(kDesignLeft, kDesignTop);
}

void TAddToDatabaseForm::proposeCircuit(const QString& gxrPath, const lorvane::StartFinish& gates,
                                        std::optional<double> lapDistance,
                                        const lorvane::GateRules& rules) {
    Proposal p;
    p.gates = gates;
    p.rules = rules;
    CircuitNameEdit->setText(QFileInfo(gxrPath).completeBaseName());
    SFLineValue->setText(lorvane::dbtools::gateText(gates.start, kGateDecimals));
    SFLineValue->setToolTip(lorvane::dbtools::gateText(gates.start));
    FinishLineValue->setText(gates.hasFinishLine
                                 ? lorvane::dbtools::gateText(gates.finish, kGateDecimals)
                                 : QStringLiteral("none (the start/finish line)"));
    FinishLineValue->setToolTip(gates.hasFinishLine ? lorvane::dbtools::gateText(gates.finish)
                                                    : QString());
    LapDistanceEdit->setText(
        lapDistance ? QString::fromStdString(lorvane::formatFixed(*lapDistance, 1, 1)) : QString());
    CountryValue->setText(QStringLiteral("none stored for this place"));
    if (auto db = lorvane::dbtools::openCircuitDb(dbPath_, prompts_, this)) {
        try {
            if (auto c = db->countryFor(gates.start.lat1, gates.start.long1)) {
                p.country = c->name;
                CountryValue->setText(QString::fromStdString(c->name));
            }
        } catch (const lorvane::LoadError& e) {
            prompts_.error(this, lorvane::dbtools::errorText(e.diagnostic()));
        }
    }
    proposal_ = std::move(p);
}

void TAddToDatabaseForm::clearProposal() {
    proposal_.reset();
    CircuitNameEdit->clear();
    LapDistanceEdit->clear();
    for (QLabel* l : {CountryValue, SFLineValue, FinishLineValue}) l->setText(kNone);
}

void TAddToDatabaseForm::Button2Click() {
    addConfirmed = false;
    close();
}

void TAddToDatabaseForm::Button1Click() {
    if (proposal_) {
        // Anything wrong keeps the window open with its values, so the user
        // can correct them (a taken name, most often) or cancel.
        lorvane::Circuit c;
        c.name = CircuitNameEdit->text().trimmed().toStdString();
        c.country = proposal_->country;
        c.start = proposal_->gates.start;
        if (proposal_->gates.hasFinishLine) c.finish = proposal_->gates.finish;
        c.rules = proposal_->rules;
        c.splits = proposal_->splits;
        const QString dist = LapDistanceEdit->text().trimmed();
        if (!dist.isEmpty()) {
            auto v = lorvane::parseDecimal(dist.toStdString());
            if (!v || !(*v > 0)) {
                prompts_.error(
                    this, QStringLiteral(
                              "The lap distance must be a positive number of metres, not \"%1\".")
                              .arg(dist));
                return;
            }
            c.lapDistance = *v;
        }
        auto db = lorvane::dbtools::openCircuitDb(dbPath_, prompts_, this);
        if (!db) return;
        try {
            db->addCircuit(c);
        } catch (const lorvane::LoadError& e) {
            prompts_.error(this, lorvane::dbtools::errorText(e.diagnostic()));
            return;
        }
        emit circuitAdded(QString::fromStdString(c.name));
    }
    addConfirmed = true;
    close();
}
