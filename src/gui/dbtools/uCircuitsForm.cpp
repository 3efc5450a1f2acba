#include "gui/dbtools/uCircuitsForm.h"

#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "circuits/circuit_db.h"
#include "gui/common/prompts.h"
#include "gui/common/window_style.h"
#include "gui/dbtools/circuit_store.h"
#include "reference/reference_file.h"

using lorvane::dbtools::errorText;

namespace {

QString lineFor(const lorvane::Circuit& c) {
    QString s = QString::fromStdString(c.name);
    if (c.country) s += QStringLiteral("  (") + QString::fromStdString(*c.country) + u')';
    if (c.lapDistance) s += QStringLiteral("  ") + lorvane::dbtools::distanceText(*c.lapDistance);
    return s;
}

QString detailsFor(const lorvane::Circuit& c) {
    QString s = QStringLiteral("Start/finish line: ") + lorvane::dbtools::gateText(c.start);
    s += QStringLiteral("\nFinish line: ") +
         (c.finish ? lorvane::dbtools::gateText(*c.finish) : QStringLiteral("none"));
    if (!c.splits.empty()) s += QStringLiteral("\nSplit lines: %1").arg(c.splits.size());
    s += QStringLiteral("\nDirection: ") +
         QString::fromLatin1(lorvane::directionName(c.rules.direction).data());
    if (c.rules.gateWidth)
        s += QStringLiteral(", gate width ") + lorvane::dbtools::distanceText(*c.rules.gateWidth);
    if (!c.notes.empty()) s += QStringLiteral("\n") + QString::fromStdString(c.notes);
    return s;
}

} // namespace

TCircuitsForm::TCircuitsForm(lorvane::app::Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), prompts_(prompts) {
    setObjectName(QStringLiteral("CircuitsForm"));
    setWindowTitle(QStringLiteral("Circuits"));
    setFont(lorvane::app::designFont());
    resize(460, 440);

    SearchEdit = new QLineEdit(this);
    SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
    SearchEdit->setPlaceholderText(QStringLiteral("Search name, country or notes"));
    SearchEdit->setClearButtonEnabled(true);
    CircuitList = new QListWidget(this);
    CircuitList->setObjectName(QStringLiteral("CircuitList"));
    DetailsLabel = new QLabel(this);
    DetailsLabel->setObjectName(QStringLiteral("DetailsLabel"));
    DetailsLabel->setWordWrap(true);
    DetailsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    NameEdit = new QLineEdit(this);
    NameEdit->setObjectName(QStringLiteral("NameEdit"));
    auto button = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    RenameButton = button("RenameButton", QStringLiteral("Rename"));
    DeleteButton = button("DeleteButton", QStringLiteral("Delete..."));
    ExportButton = button("ExportButton", QStringLiteral("Export .gxr..."));
    ImportButton = button("ImportButton", QStringLiteral("Import folder..."));
    CloseButton = button("CloseButton", QStringLiteral("Close"));
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setWordWrap(true);

    auto* rename = new QHBoxLayout;
    rename->addWidget(new QLabel(QStringLiteral("Name"), this));
    rename->addWidget(NameEdit, 1);
    rename->addWidget(RenameButton);
    auto* actions = new QHBoxLayout;
    actions->addWidget(DeleteButton);
    actions->addWidget(ExportButton);
    actions->addWidget(ImportButton);
    actions->addStretch(1);
    actions->addWidget(CloseButton);
    auto* v = new QVBoxLayout(this);
    v->addWidget(SearchEdit);
    v->addWidget(CircuitList, 1);
    v->addWidget(DetailsLabel);
    v->addLayout(rename);
    v->addLayout(actions);
    v->addWidget(StatusLabel);

    chooseFolder = [](QWidget* parent) -> std::optional<QString> {
        const QString d = QFileDialog::getExistingDirectory(
            parent, QStringLiteral("Import the .gxr files of a folder"));
        if (d.isEmpty()) return std::nullopt;
        return d;
    };

    connect(SearchEdit, &QLineEdit::textChanged, this, &TCircuitsForm::refresh);
    connect(CircuitList, &QListWidget::currentRowChanged, this, &TCircuitsForm::selectionChanged);
    connect(RenameButton, &QPushButton::clicked, this, &TCircuitsForm::RenameClick);
    connect(NameEdit, &QLineEdit::returnPressed, this, &TCircuitsForm::RenameClick);
    connect(DeleteButton, &QPushButton::clicked, this, &TCircuitsForm::DeleteClick);
    connect(ExportButton, &QPushButton::clicked, this, &TCircuitsForm::ExportClick);
    connect(ImportButton, &QPushButton::clicked, this, &TCircuitsForm::ImportClick);
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
    selectionChanged();
}

QString TCircuitsForm::selectedName() const {
    const QListWidgetItem* item = CircuitList->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

void TCircuitsForm::showEvent(QShowEvent* event) {
    openFailed_ = false;
    QWidget::showEvent(event);
    refresh();
}

bool TCircuitsForm::event(QEvent* event) {
    // Another program (the command line) may have changed the file meanwhile.
    if (event->type() == QEvent::WindowActivate && isVisible() && !openFailed_) refresh();
    return QWidget::event(event);
}

void TCircuitsForm::refresh() {
    const QString keep = selectedName();
    CircuitList->clear();
    auto db = lorvane::dbtools::openCircuitDb(dbPath_, prompts_, this);
    openFailed_ = !db;
    if (!db) {
        StatusLabel->setText(QStringLiteral("The circuit database could not be opened."));
        selectionChanged();
        return;
    }
    try {
        for (const lorvane::Circuit& c : db->search(SearchEdit->text().toStdString())) {
            auto* item = new QListWidgetItem(lineFor(c), CircuitList);
            item->setData(Qt::UserRole, QString::fromStdString(c.name));
            item->setData(Qt::UserRole + 1, detailsFor(c));
            if (item->data(Qt::UserRole).toString().compare(keep, Qt::CaseInsensitive) == 0)
                CircuitList->setCurrentItem(item);
        }
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, errorText(e.diagnostic()));
    }
    selectionChanged();
}

void TCircuitsForm::selectionChanged() {
    const QListWidgetItem* item = CircuitList->currentItem();
    const bool any = item != nullptr;
    DetailsLabel->setText(any ? item->data(Qt::UserRole + 1).toString() : QString());
    NameEdit->setText(any ? item->data(Qt::UserRole).toString() : QString());
    for (QWidget* w : {static_cast<QWidget*>(NameEdit), static_cast<QWidget*>(RenameButton),
                       static_cast<QWidget*>(DeleteButton), static_cast<QWidget*>(ExportButton)})
        w->setEnabled(any);
}

void TCircuitsForm::RenameClick() {
    const QString from = selectedName();
    const QString to = NameEdit->text().trimmed();
    if (from.isEmpty() || to == from) return;
    auto db = lorvane::dbtools::openCircuitDb(dbPath_, prompts_, this);
    if (!db) return;
    try {
        db->renameCircuit(from.toStdString(), to.toStdString());
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, errorText(e.diagnostic()));
        return;
    }
    // Select it under its new name.
    if (QListWidgetItem* item = CircuitList->currentItem()) item->setData(Qt::UserRole, to);
    refresh();
    StatusLabel->setText(QStringLiteral("Renamed \"%1\" to \"%2\".").arg(from, to));
}

void TCircuitsForm::DeleteClick() {
    const QString name = selectedName();
    if (name.isEmpty()) return;
    if (!prompts_.confirm(this, QStringLiteral("Delete circuit"),
                          QStringLiteral("Delete the circuit \"%1\" from the database?").arg(name)))
        return;
    auto db = lorvane::dbtools::openCircuitDb(dbPath_, prompts_, this);
    if (!db) return;
    try {
        db->removeCircuit(name.toStdString());
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, errorText(e.diagnostic()));
    }
    refresh();
    StatusLabel->setText(QStringLiteral("Deleted \"%1\".").arg(name));
}

void TCircuitsForm::ExportClick() {
    const QString name = selectedName();
    if (name.isEmpty()) return;
    auto db = lorvane::dbtools::openCircuitDb(dbPath_, prompts_, this);
    if (!db) return;
    std::string text;
    try {
        text = db->exportGxr(name.toStdString());
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, errorText(e.diagnostic()));
        return;
    }
    const auto path = prompts_.saveFile(this,
                                        QStringLiteral("Export circuit as a start/finish file"),
                                        name + QStringLiteral(".gxr"));
    if (!path) return;
    try {
        lorvane::writeFileAtomically(path->toStdString(), text);
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, errorText(e.diagnostic()));
        return;
    }
    StatusLabel->setText(QStringLiteral("Exported \"%1\" to %2").arg(name, *path));
}

void TCircuitsForm::ImportClick() {
    const auto dir = chooseFolder(this);
    if (!dir) return;
    auto db = lorvane::dbtools::openCircuitDb(dbPath_, prompts_, this);
    if (!db) return;
    lorvane::ImportResult r;
    try {
        r = db->importGxrFolder(dir->toStdString());
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, errorText(e.diagnostic()));
        return;
    }
    refresh();
    StatusLabel->setText(QStringLiteral("Imported %1 circuit(s) from %2; %3 file(s) skipped.")
                             .arg(r.added)
                             .arg(*dir)
                             .arg(r.errors.size()));
    if (!r.errors.empty()) {
        QString text = QStringLiteral("%1 file(s) were not imported:").arg(r.errors.size());
        for (const lorvane::Diagnostic& d : r.errors) text += QStringLiteral("\n\n") + errorText(d);
        prompts_.error(this, text);
    }
}
