// The Circuits window: the circuits of the database, with search, rename,
// delete, export as a start/finish file and import of a folder of them.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace lorvane::app {
class Prompts;
}

class TCircuitsForm : public QWidget {
    Q_OBJECT
public:
    explicit TCircuitsForm(lorvane::app::Prompts& prompts, QWidget* parent = nullptr);

    QLineEdit* SearchEdit;
    QListWidget* CircuitList; // one line per circuit; the name in Qt::UserRole
    QLabel* DetailsLabel;     // the selected circuit's lines and rules
    QLineEdit* NameEdit;      // new name for Rename
    QPushButton* RenameButton;
    QPushButton* DeleteButton;
    QPushButton* ExportButton;
    QPushButton* ImportButton;
    QPushButton* CloseButton;
    QLabel* StatusLabel; // what the last action did

    // The database shown; empty: the user's default one.
    void setCircuitDbPath(const std::string& path) { dbPath_ = path; }

    // The folder dialog of Import; replaceable for tests.
    std::function<std::optional<QString>(QWidget*)> chooseFolder;

    // The name of the selected circuit, empty when none.
    QString selectedName() const;

public slots:
    // Reads the list again (kept selection where it still exists).
    void refresh();
    void RenameClick();
    void DeleteClick();
    void ExportClick();
    void ImportClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void selectionChanged();

    lorvane::app::Prompts& prompts_;
    std::string dbPath_;
    bool openFailed_ = false; // the last open failed: not reported again on every activation
};
