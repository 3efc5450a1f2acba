// AddToDatabaseForm: the details of a circuit to be added to the circuit
// database (name, country, start/finish line, finish line, lap distance), with
// OK, which stores it, and Cancel, which stores nothing. The answer is kept in
// addConfirmed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "formats/start_finish.h"
#include "laps/gate_rules.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace lorvane::app {
class Prompts;
}

class TAddToDatabaseForm : public QWidget {
    Q_OBJECT
public:
    // Errors go to the program's message boxes.
    explicit TAddToDatabaseForm(QWidget* parent = nullptr);
    explicit TAddToDatabaseForm(lorvane::app::Prompts& prompts, QWidget* parent = nullptr);

    // Captions.
    QLabel* CircuitNameLabel;
    QLabel* CountryLabel;
    QPushButton* Button1; // OK
    QPushButton* Button2; // Cancel
    QLabel* SFLineLabel;
    QLabel* LapDistanceLabel;
    QLabel* Label8;
    QLabel* FinishLineLabel;
    // Values, beside their captions.
    QLineEdit* CircuitNameEdit;
    QLabel* CountryValue;
    QLabel* SFLineValue;
    QLabel* FinishLineValue;
    QLineEdit* LapDistanceEdit; // metres; empty when not known

    // Last answer: true after OK (once the circuit is stored, when there is
    // one to store), false after Cancel (and at the main window's first
    // activation).
    bool addConfirmed = false;

    // Where the window is placed on the screen.
    static constexpr int kDesignLeft = 871, kDesignTop = 271;

    // The database OK writes to; empty: the user's default one.
    void setCircuitDbPath(const std::string& path) { dbPath_ = path; }

    // Fills the window for the loaded start/finish file and log: the name
    // proposed from the file's base name, the country whose stored box holds
    // the start line, the gates, and the lap distance when known.
    void proposeCircuit(const QString& gxrPath, const lorvane::StartFinish& gates,
                        std::optional<double> lapDistance, const lorvane::GateRules& rules = {});
    // The split lines stored with the proposed circuit (after proposeCircuit).
    void proposeSplits(std::vector<lorvane::Gate> splits) {
        if (proposal_) proposal_->splits = std::move(splits);
    }
    // Empties the values: OK then only records the answer.
    void clearProposal();
    bool hasProposal() const { return proposal_.has_value(); }

public slots:
    void Button2Click();
    void Button1Click();

signals:
    void circuitAdded(const QString& name);

private:
    void build();

    struct Proposal {
        lorvane::StartFinish gates;
        lorvane::GateRules rules;
        std::optional<std::string> country;
        std::vector<lorvane::Gate> splits;
    };
    lorvane::app::Prompts& prompts_;
    std::string dbPath_;
    std::optional<Proposal> proposal_;
};
