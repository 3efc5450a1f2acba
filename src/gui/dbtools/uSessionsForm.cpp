#include "gui/dbtools/uSessionsForm.h"

#include <algorithm>
#include <map>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTimeZone>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include "circuits/circuit_db.h"
#include "gui/common/prompts.h"
#include "gui/common/window_style.h"
#include "gui/dbtools/circuit_store.h"
#include "laps/lap_time_text.h"

using lorvane::dbtools::errorText;

namespace {

QString pathText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString timeText(const std::optional<double>& seconds) {
    return seconds ? QString::fromStdString(lorvane::convertRealtoUTC(*seconds)) : QString();
}

QString dateText(const lorvane::StoredSession& s) {
    QString t = s.date ? QString::fromStdString(*s.date) : QString();
    if (s.timeOfDay) t += u' ' + QString::fromStdString(*s.timeOfDay).left(5);
    return t;
}

// Seconds since 1970 UTC of the session's start, for the chart's date axis.
std::optional<double> sessionTime(const lorvane::StoredSession& s) {
    if (!s.date) return std::nullopt;
    const QDate d = QDate::fromString(QString::fromStdString(*s.date), Qt::ISODate);
    if (!d.isValid()) return std::nullopt;
    QTime t(0, 0);
    if (s.timeOfDay) {
        const QTime parsed = QTime::fromString(QString::fromStdString(*s.timeOfDay), Qt::ISODate);
        if (parsed.isValid()) t = parsed;
    }
    return static_cast<double>(QDateTime(d, t, QTimeZone::utc()).toSecsSinceEpoch());
}

enum Column { ColDate, ColFile, ColLaps, ColBest, ColTheoretical, ColumnCount };

} // namespace

TSessionsForm::TSessionsForm(lorvane::app::Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), prompts_(prompts) {
    setObjectName(QStringLiteral("SessionsForm"));
    setWindowTitle(QStringLiteral("Sessions"));
    setFont(lorvane::app::designFont());
    resize(900, 640);

    CircuitList = new QListWidget(this);
    CircuitList->setObjectName(QStringLiteral("CircuitList"));
    CircuitList->setMaximumWidth(240);

    SessionTable = new QTableWidget(0, ColumnCount, this);
    SessionTable->setObjectName(QStringLiteral("SessionTable"));
    SessionTable->setHorizontalHeaderLabels({QStringLiteral("Date"), QStringLiteral("File"),
                                             QStringLiteral("Laps"), QStringLiteral("Best"),
                                             QStringLiteral("Theoretical best")});
    SessionTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    SessionTable->setSelectionMode(QAbstractItemView::SingleSelection);
    SessionTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SessionTable->verticalHeader()->hide();
    SessionTable->verticalHeader()->setDefaultSectionSize(SessionTable->fontMetrics().height() + 6);
    SessionTable->horizontalHeader()->setSectionResizeMode(ColFile, QHeaderView::Stretch);
    SessionTable->setWordWrap(false);

    BestChart = new QCustomPlot(this);
    BestChart->setObjectName(QStringLiteral("BestChart"));
    BestChart->setLocale(QLocale::c());
    BestChart->setMinimumHeight(180);
    {
        QFont small = font();
        small.setPointSize(8);
        for (QCPAxis* a : {BestChart->xAxis, BestChart->yAxis}) {
            a->setTickLabelFont(small);
            a->setLabelFont(small);
        }
        auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
        ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd"));
        ticker->setTimeZone(QTimeZone::utc());
        BestChart->xAxis->setTicker(ticker);
        BestChart->yAxis->setLabel(QStringLiteral("Best lap (s)"));
        QCPGraph* g = BestChart->addGraph();
        g->setName(QStringLiteral("BestLaps"));
        g->setPen(QPen(QColor(0x20, 0x60, 0xc0), 1.2));
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 7));
        // The chosen session's point, ringed.
        QCPGraph* chosen = BestChart->addGraph();
        chosen->setName(QStringLiteral("Chosen"));
        chosen->setLineStyle(QCPGraph::lsNone);
        chosen->setScatterStyle(QCPScatterStyle(
            QCPScatterStyle::ssCircle, QPen(QColor(0xe0, 0x70, 0x10), 2), Qt::NoBrush, 13));
    }

    LapList = new QListWidget(this);
    LapList->setObjectName(QStringLiteral("LapList"));
    LapList->setFixedWidth(230);
    auto button = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    OpenButton = button("OpenButton", QStringLiteral("Open session"));
    UseRefButton = button("UseRefButton", QStringLiteral("Use as reference"));
    CompareButton = button("CompareButton", QStringLiteral("Compare with selected lap"));
    BestEverButton = button("BestEverButton", QStringLiteral("Best lap ever"));
    WriteRefButton = button("WriteRefButton", QStringLiteral("Write as reference file..."));
    CloseButton = button("CloseButton", QStringLiteral("Close"));
    BestEverLabel = new QLabel(this);
    BestEverLabel->setObjectName(QStringLiteral("BestEverLabel"));
    BestEverLabel->setWordWrap(true);
    BestEverLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setWordWrap(true);

    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("Circuits"), this));
    left->addWidget(CircuitList, 1);
    left->addWidget(BestEverButton);
    left->addWidget(BestEverLabel);
    left->addWidget(WriteRefButton);

    auto* lapButtons = new QVBoxLayout;
    lapButtons->addWidget(OpenButton);
    lapButtons->addSpacing(8);
    lapButtons->addWidget(UseRefButton);
    lapButtons->addWidget(CompareButton);
    lapButtons->addStretch(1);
    auto* laps = new QHBoxLayout;
    laps->addWidget(LapList);
    laps->addLayout(lapButtons);
    laps->addStretch(1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(StatusLabel, 1);
    bottom->addWidget(CloseButton);

    auto* right = new QVBoxLayout;
    right->addWidget(SessionTable, 2);
    right->addWidget(BestChart, 2);
    right->addLayout(laps, 1);

    auto* h = new QHBoxLayout;
    h->addLayout(left);
    h->addLayout(right, 1);
    auto* v = new QVBoxLayout(this);
    v->addLayout(h, 1);
    v->addLayout(bottom);

    connect(CircuitList, &QListWidget::currentRowChanged, this, &TSessionsForm::circuitChanged);
    connect(SessionTable, &QTableWidget::itemSelectionChanged, this,
            &TSessionsForm::sessionChanged);
    connect(SessionTable, &QTableWidget::cellDoubleClicked, this, &TSessionsForm::OpenClick);
    connect(OpenButton, &QPushButton::clicked, this, &TSessionsForm::OpenClick);
    connect(UseRefButton, &QPushButton::clicked, this, &TSessionsForm::UseRefClick);
    connect(CompareButton, &QPushButton::clicked, this, &TSessionsForm::CompareClick);
    connect(LapList, &QListWidget::itemDoubleClicked, this, &TSessionsForm::UseRefClick);
    connect(BestEverButton, &QPushButton::clicked, this, &TSessionsForm::BestEverClick);
    connect(WriteRefButton, &QPushButton::clicked, this, &TSessionsForm::WriteRefClick);
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
    clearBestEver();
    circuitChanged();
}

QString TSessionsForm::selectedCircuit() const {
    const QListWidgetItem* item = CircuitList->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

std::optional<std::int64_t> TSessionsForm::selectedSession() const {
    const QList<QTableWidgetItem*> items = SessionTable->selectedItems();
    if (items.isEmpty()) return std::nullopt;
    const QTableWidgetItem* first = SessionTable->item(items.front()->row(), ColDate);
    if (!first) return std::nullopt;
    return first->data(Qt::UserRole).toLongLong();
}

void TSessionsForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

std::optional<lorvane::SessionLibrary> TSessionsForm::openLibrary() {
    const std::string path = dbPath_.empty() ? lorvane::defaultCircuitDbPath() : dbPath_;
    try {
        return lorvane::SessionLibrary::open(path);
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, errorText(e.diagnostic()));
    }
    return std::nullopt;
}

void TSessionsForm::refresh() {
    const QString keep = selectedCircuit();
    {
        const QSignalBlocker quiet(CircuitList);
        CircuitList->clear();
    }
    auto library = openLibrary();
    if (!library) {
        StatusLabel->setText(QStringLiteral("The circuit database could not be opened."));
        circuitChanged();
        return;
    }
    // The circuits by name, each with its number of sessions.
    std::map<QString, std::pair<QString, int>> circuits;
    int total = 0;
    try {
        for (const lorvane::StoredSession& s : library->sessions()) {
            ++total;
            if (!s.circuit) continue;
            const QString name = QString::fromStdString(*s.circuit);
            auto& [shown, count] = circuits[name.toCaseFolded()];
            if (shown.isEmpty()) shown = name;
            ++count;
        }
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, errorText(e.diagnostic()));
    }
    {
        const QSignalBlocker quiet(CircuitList);
        for (const auto& [key, entry] : circuits) {
            auto* item = new QListWidgetItem(
                QStringLiteral("%1  (%2)").arg(entry.first).arg(entry.second), CircuitList);
            item->setData(Qt::UserRole, entry.first);
            if (entry.first.compare(keep, Qt::CaseInsensitive) == 0)
                CircuitList->setCurrentItem(item);
        }
        if (!CircuitList->currentItem() && CircuitList->count() > 0) CircuitList->setCurrentRow(0);
    }
    StatusLabel->setText(total == 0
                             ? QStringLiteral("No sessions stored yet: drop a folder of logs "
                                              "on the main window to add them.")
                             : QStringLiteral("%1 session(s) stored.").arg(total));
    circuitChanged();
}

void TSessionsForm::circuitChanged() {
    const std::optional<std::int64_t> keep = selectedSession();
    const QString circuit = selectedCircuit();
    if (bestEver_ && circuit.isEmpty()) clearBestEver();
    std::vector<lorvane::StoredSession> sessions;
    if (!circuit.isEmpty()) {
        if (auto library = openLibrary()) {
            try {
                sessions = library->sessions(circuit.toStdString());
            } catch (const lorvane::LoadError& e) {
                prompts_.error(this, errorText(e.diagnostic()));
            }
        }
    }
    {
        const QSignalBlocker quiet(SessionTable);
        SessionTable->clearSelection(); // a row of the circuit shown before
        SessionTable->clearContents();
        SessionTable->setRowCount(static_cast<int>(sessions.size()));
        int row = 0;
        for (const lorvane::StoredSession& s : sessions) {
            auto cell = [&](int column, const QString& text, Qt::Alignment align = Qt::AlignLeft) {
                auto* item = new QTableWidgetItem(text);
                item->setTextAlignment(align | Qt::AlignVCenter);
                SessionTable->setItem(row, column, item);
                return item;
            };
            cell(ColDate, dateText(s))->setData(Qt::UserRole, static_cast<qlonglong>(s.id));
            const QString path = pathText(s.path);
            cell(ColFile, QFileInfo(path).fileName())->setToolTip(path);
            cell(ColLaps, QString::number(s.lapCount), Qt::AlignRight);
            QString best = timeText(s.bestTime);
            if (s.bestLap) best += QStringLiteral("  (lap %1)").arg(*s.bestLap);
            cell(ColBest, best, Qt::AlignRight);
            cell(ColTheoretical, timeText(s.theoreticalBest), Qt::AlignRight);
            if (keep && *keep == s.id) SessionTable->selectRow(row);
            ++row;
        }
        SessionTable->resizeColumnsToContents();
        SessionTable->horizontalHeader()->setSectionResizeMode(ColFile, QHeaderView::Stretch);
    }
    drawChart(sessions);
    BestEverButton->setEnabled(!circuit.isEmpty());
    if (bestEver_) {
        // Shown for another circuit: not this one's.
        bool same = false;
        for (const auto& s : sessions) same = same || s.id == bestEver_->session;
        if (!same) clearBestEver();
    }
    sessionChanged();
}

void TSessionsForm::drawChart(const std::vector<lorvane::StoredSession>& sessions) {
    QVector<double> x, y;
    chartPoints_.clear();
    for (const lorvane::StoredSession& s : sessions) {
        const auto when = sessionTime(s);
        if (!when || !s.bestTime) continue;
        x << *when;
        y << *s.bestTime;
        chartPoints_.emplace_back(s.id, QPointF(*when, *s.bestTime));
    }
    QCPGraph* g = BestChart->graph(0);
    g->setData(x, y, false);
    if (!x.isEmpty()) {
        const auto [xMin, xMax] = std::minmax_element(x.begin(), x.end());
        const auto [yMin, yMax] = std::minmax_element(y.begin(), y.end());
        // A day either side at least, and a little room above and below.
        const double xPad = std::max((*xMax - *xMin) * 0.05, 86400.0);
        const double yPad = std::max((*yMax - *yMin) * 0.15, 0.1);
        BestChart->xAxis->setRange(*xMin - xPad, *xMax + xPad);
        BestChart->yAxis->setRange(*yMin - yPad, *yMax + yPad);
    }
    BestChart->replot();
}

void TSessionsForm::sessionChanged() {
    const auto id = selectedSession();
    LapList->clear();
    if (id) {
        if (auto library = openLibrary()) {
            try {
                const auto stored = library->session(*id);
                for (const lorvane::StoredLap& lap : library->laps(*id)) {
                    QString text =
                        QStringLiteral("Lap %1   %2").arg(lap.lap, 3).arg(timeText(lap.time));
                    if (stored && stored->bestLap && *stored->bestLap == lap.lap)
                        text += QStringLiteral("   fastest");
                    auto* item = new QListWidgetItem(text, LapList);
                    item->setData(Qt::UserRole, lap.lap);
                    if (stored && stored->bestLap && *stored->bestLap == lap.lap)
                        LapList->setCurrentItem(item);
                }
            } catch (const lorvane::LoadError& e) {
                prompts_.error(this, errorText(e.diagnostic()));
            }
        }
    }
    QVector<double> x, y;
    for (const auto& [session, point] : chartPoints_)
        if (id && session == *id) {
            x << point.x();
            y << point.y();
        }
    BestChart->graph(1)->setData(x, y, true);
    BestChart->replot();
    OpenButton->setEnabled(id.has_value());
    UseRefButton->setEnabled(LapList->count() > 0);
    CompareButton->setEnabled(LapList->count() > 0);
}

void TSessionsForm::OpenClick() {
    const auto id = selectedSession();
    if (!id) return;
    auto library = openLibrary();
    if (!library) return;
    if (const auto stored = library->session(*id)) emit openSession(*stored);
}

void TSessionsForm::UseRefClick() {
    useSelectedLap(false);
}

void TSessionsForm::CompareClick() {
    useSelectedLap(true);
}

void TSessionsForm::useSelectedLap(bool asCompared) {
    const auto id = selectedSession();
    const QListWidgetItem* item = LapList->currentItem();
    if (!id || !item) return;
    auto library = openLibrary();
    if (!library) return;
    if (const auto stored = library->session(*id))
        emit useLap(*stored, item->data(Qt::UserRole).toInt(), asCompared);
}

void TSessionsForm::BestEverClick() {
    const QString circuit = selectedCircuit();
    if (circuit.isEmpty()) return;
    auto library = openLibrary();
    if (!library) return;
    std::vector<lorvane::BestLapEntry> best;
    try {
        best = library->bestLaps(circuit.toStdString(), 1);
    } catch (const lorvane::LoadError& e) {
        prompts_.error(this, errorText(e.diagnostic()));
        return;
    }
    if (best.empty()) {
        clearBestEver();
        BestEverLabel->setText(QStringLiteral("No timed lap at %1.").arg(circuit));
        return;
    }
    bestEver_ = best.front();
    const QString file = QFileInfo(pathText(bestEver_->path)).fileName();
    BestEverLabel->setText(
        QStringLiteral("Fastest at %1: %2, lap %3 of %4%5")
            .arg(circuit, timeText(bestEver_->time))
            .arg(bestEver_->lap)
            .arg(file, bestEver_->date
                           ? QStringLiteral(" (%1)").arg(QString::fromStdString(*bestEver_->date))
                           : QString()));
    WriteRefButton->setEnabled(true);
}

void TSessionsForm::WriteRefClick() {
    if (!bestEver_) return;
    auto library = openLibrary();
    if (!library) return;
    if (const auto stored = library->session(bestEver_->session))
        emit writeRefFile(*stored, bestEver_->lap);
}

void TSessionsForm::clearBestEver() {
    bestEver_.reset();
    BestEverLabel->clear();
    WriteRefButton->setEnabled(false);
}
