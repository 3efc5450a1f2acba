// The main window's chart and track options: which channels the strip chart
// shows and against what, what the chosen lap's path on the track is
// coloured by, and saving either plot as a picture. The values along a lap
// are worked out once per lap and channel and kept until another log is
// drawn, so a repaint only thins them again.
#include <map>
#include <memory>

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include "analysis/lap_channels.h"
#include "analysis/lap_delta.h"
#include "gui/app/Unit1.h"
#include "gui/common/prompts.h"
#include "gui/display/lap_chart.h"
#include "gui/display/plot_export.h"
#include "gui/display/track_plot.h"

namespace {

// The entries of the menus that are not channels of the log.
const QString kSpeed = QStringLiteral("\x01speed");
const QString kTimeLost = QStringLiteral("\x01lost");
const QString kLossRate = QStringLiteral("\x01rate");

// How the settings name the derived speed among the chosen channels.
const QString kSpeedSetting = QStringLiteral("*speed");

// Half the stretch the time lost per 100 m is measured over, in metres.
constexpr double kRateHalfSpan = 25.0;

// Where time goes: the change of the delta over the stretch of ±25 m around
// each point of the compared lap, per 100 m of it (NaN where the stretch is
// a point).
std::vector<double> lossPer100m(const lorvane::LapTrace& lap, const std::vector<double>& delta) {
    const auto& p = lap.points;
    std::vector<double> rate(p.size(), lorvane::kNoValue);
    std::size_t lo = 0, hi = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        while (p[lo].distance < p[i].distance - kRateHalfSpan) ++lo;
        while (hi + 1 < p.size() && p[hi + 1].distance <= p[i].distance + kRateHalfSpan) ++hi;
        const double span = p[hi].distance - p[lo].distance;
        if (span > 0) rate[i] = (delta[hi] - delta[lo]) / span * 100.0;
    }
    return rate;
}

} // namespace

struct TForm1::ChartState {
    QMenu* channels = nullptr; // checkable: the derived speed, then the log's channels
    QMenu* colours = nullptr; // exclusive: none, speed, each channel, time lost (in all, per 100 m)
    QActionGroup* colourGroup = nullptr;
    QAction* timeAxis = nullptr;
    QStringList chosen{kSpeed}; // the panes, by channel name
    QString colourBy;           // "" none, kSpeed, kTimeLost, kLossRate or a channel name
    // The track the menus list the channels of (kept, so that another load's
    // track is never taken for it).
    std::shared_ptr<const lorvane::Track> track;
    // What the chart and the track show now, so a draw that changes none of it does nothing.
    QString drawnKey;
    // What that key was made of, held so that no address in it is reused.
    std::shared_ptr<const lorvane::LapTrace> drawnRef, drawnCmp;
    // Values along a lap, per trace and channel; the trace is kept alive by its key.
    std::map<std::pair<std::shared_ptr<const lorvane::LapTrace>, std::size_t>, std::vector<double>>
        along;
};

void TForm1::buildChartMenus() {
    chart_ = std::make_shared<ChartState>();
    ChartState& c = *chart_;
    auto* laps = qobject_cast<QMenu*>(actGateRules->associatedObjects().value(0));
    auto* file = qobject_cast<QMenu*>(actQuit->associatedObjects().value(0));
    if (laps) {
        laps->addSeparator();
        c.channels = laps->addMenu(tr("C&hart channels"));
        c.channels->setObjectName(QStringLiteral("ChartChannelsMenu"));
        c.timeAxis = laps->addAction(tr("Chart against &time"));
        c.timeAxis->setObjectName(QStringLiteral("actChartTime"));
        c.timeAxis->setCheckable(true);
        connect(c.timeAxis, &QAction::toggled, this, [this](bool on) {
            Chart2->setXAxis(on ? lorvane::display::LapChart::XAxis::Time
                                : lorvane::display::LapChart::XAxis::Distance);
            markCursor(Chart2->cursorDistance());
        });
        c.colours = laps->addMenu(tr("&Colour track by"));
        c.colours->setObjectName(QStringLiteral("TrackColourMenu"));
        c.colourGroup = new QActionGroup(this);
    }
    if (file) {
        actSavePlot = new QAction(tr("Save &plot as..."), this);
        actSavePlot->setObjectName(QStringLiteral("actSavePlot"));
        actSaveChart = new QAction(tr("Save c&hart as..."), this);
        actSaveChart->setObjectName(QStringLiteral("actSaveChart"));
        connect(actSavePlot, &QAction::triggered, this, [this] { savePlotAs(false); });
        connect(actSaveChart, &QAction::triggered, this, [this] { savePlotAs(true); });
        file->insertAction(actQuit, actSavePlot);
        file->insertAction(actQuit, actSaveChart);
        file->insertSeparator(actQuit);
    }
    connect(Chart2, &lorvane::display::LapChart::menuRequested, this, [this](QPoint at) {
        QMenu menu(this);
        if (chart_->channels) menu.addMenu(chart_->channels);
        if (chart_->timeAxis) menu.addAction(chart_->timeAxis);
        menu.addAction(actSaveChart);
        menu.exec(at);
    });
    fillChartMenus(nullptr);
}

void TForm1::rememberChosenChannels() {
    if (!settings_) return;
    QStringList names;
    for (const QString& k : chart_->chosen) names << (k == kSpeed ? kSpeedSetting : k);
    settings_->setChosenChannels(names);
}

void TForm1::restoreChosenChannels(const QStringList& names) {
    QStringList chosen;
    for (const QString& n : names)
        if (!n.isEmpty() && !n.startsWith(QChar(1))) chosen << (n == kSpeedSetting ? kSpeed : n);
    if (chosen.isEmpty()) return;
    chart_->chosen = chosen;
    fillChartMenus(chart_->track);
    drawChannels();
}

void TForm1::fillChartMenus(std::shared_ptr<const lorvane::Track> track) {
    ChartState& c = *chart_;
    c.track = std::move(track);
    c.along.clear();
    const lorvane::ChannelTable* table = c.track ? &c.track->channels : nullptr;
    auto has = [&](const QString& key) {
        return key.startsWith(QChar(1)) || (table && table->find(key.toStdString()));
    };
    // What was chosen stays chosen: a log without a channel shows no pane for
    // it, and the next log that has it shows it again.
    if (table && !c.colourBy.isEmpty() && !has(c.colourBy)) c.colourBy.clear();

    auto caption = [](const lorvane::ChannelInfo& i) {
        return i.unit.empty() ? QString::fromStdString(i.name)
                              : QStringLiteral("%1 (%2)").arg(QString::fromStdString(i.name),
                                                              QString::fromStdString(i.unit));
    };
    if (c.channels) {
        c.channels->clear();
        auto add = [&](const QString& text, const QString& key) {
            QAction* a = c.channels->addAction(text);
            a->setData(key);
            a->setCheckable(true);
            a->setChecked(c.chosen.contains(key));
            connect(a, &QAction::toggled, this, [this, key](bool on) {
                QStringList& chosen = chart_->chosen;
                if (on && !chosen.contains(key)) chosen << key;
                if (!on) chosen.removeAll(key);
                rememberChosenChannels();
                drawChannels();
            });
        };
        add(tr("Speed (derived)"), kSpeed);
        if (table)
            for (const lorvane::ChannelInfo& i : table->info)
                add(caption(i), QString::fromStdString(i.name));
    }
    if (c.colours) {
        c.colours->clear();
        auto add = [&](const QString& text, const QString& key) {
            QAction* a = c.colours->addAction(text);
            a->setData(key);
            a->setCheckable(true);
            a->setChecked(c.colourBy == key);
            c.colourGroup->addAction(a);
            connect(a, &QAction::triggered, this, [this, key] {
                chart_->colourBy = key;
                drawChannels();
            });
        };
        add(tr("None"), QString());
        add(tr("Speed"), kSpeed);
        if (table)
            for (const lorvane::ChannelInfo& i : table->info)
                add(caption(i), QString::fromStdString(i.name));
        add(tr("Time lost"), kTimeLost);
        add(tr("Time lost per 100 m"), kLossRate);
    }
    c.drawnKey.clear();
}

void TForm1::drawChannels() {
    if (!chart_) return;
    ChartState& c = *chart_;
    const lorvane::Snapshot& s = snapshot();
    const lorvane::LoadedLog* log = s.log();
    if ((log ? log->track : nullptr) != c.track) fillChartMenus(log ? log->track : nullptr);
    const lorvane::Track* track = c.track.get();

    // The chart's laps, and which of them are the log's own (a reference
    // file or a stored lap has no channels).
    std::shared_ptr<const lorvane::LapTrace> ref, cmp;
    for (const auto& t : {s.selected, s.compared, s.referenceFile}) {
        if (t && t.get() == Chart2->reference()) ref = t;
        if (t && t.get() == Chart2->compared()) cmp = t;
    }
    auto ownLap = [&](const std::shared_ptr<const lorvane::LapTrace>& t) {
        return t && track && (t == s.selected || t == s.compared);
    };
    const QString key = QStringLiteral("%1|%2|%3|%4|%5")
                            .arg(reinterpret_cast<quintptr>(track))
                            .arg(reinterpret_cast<quintptr>(ref.get()))
                            .arg(reinterpret_cast<quintptr>(cmp.get()))
                            .arg(c.chosen.join(QLatin1Char(',')), c.colourBy);
    if (key == c.drawnKey) return;
    c.drawnKey = key;
    c.drawnRef = ref;
    c.drawnCmp = cmp;
    if (c.along.size() > 64) c.along.clear();
    auto along = [&](const std::shared_ptr<const lorvane::LapTrace>& t,
                     std::size_t channel) -> const std::vector<double>& {
        static const std::vector<double> none;
        if (!ownLap(t)) return none;
        auto [it, fresh] = c.along.try_emplace({t, channel});
        if (fresh) it->second = lorvane::channelAlongLap(*track, log->crossings, *t, channel);
        return it->second;
    };

    std::vector<lorvane::display::ChartChannel> panes;
    for (const QString& k : c.chosen) {
        if (k == kSpeed) {
            panes.push_back(lorvane::display::ChartChannel::derivedSpeed());
            continue;
        }
        const auto index = track ? track->channels.find(k.toStdString()) : std::nullopt;
        if (!index) continue;
        lorvane::display::ChartChannel p;
        p.name = k;
        p.unit = track->channels.info[*index].unit;
        p.reference = along(ref, *index);
        p.compared = along(cmp, *index);
        panes.push_back(std::move(p));
    }
    // None of the chosen channels in this log: its speed, rather than no chart.
    if (panes.empty()) panes.push_back(lorvane::display::ChartChannel::derivedSpeed());
    const int panesBefore = Chart2->paneCount();
    Chart2->setChannels(std::move(panes));
    if (Chart2->paneCount() != panesBefore)
        if (QWidget* client = centralWidget()) layoutClient(client->size());

    // The track: the chosen lap by speed or a channel, the compared lap by
    // the time it lost on the reference.
    auto pathOf = [](const lorvane::LapTrace& t) {
        std::vector<lorvane::LocalPoint> p;
        p.reserve(t.points.size());
        for (const lorvane::TracePoint& q : t.points) p.push_back({q.east, q.north});
        return p;
    };
    using Scale = lorvane::display::ColouredPath::Scale;
    if (c.colourBy == kSpeed && ref) {
        std::vector<double> v;
        v.reserve(ref->points.size());
        for (const lorvane::TracePoint& q : ref->points) v.push_back(q.speed);
        Chart1->setPathColours(false, pathOf(*ref), std::move(v), tr("Speed"), "km/h",
                               Scale::Sequential);
    } else if ((c.colourBy == kTimeLost || c.colourBy == kLossRate) && ref && cmp) {
        std::vector<double> v;
        for (const auto& d : lorvane::deltaAtPoints(*cmp, *ref))
            v.push_back(d.value_or(lorvane::kNoValue));
        if (c.colourBy == kTimeLost)
            Chart1->setPathColours(true, pathOf(*cmp), std::move(v), tr("Time lost"), "s",
                                   Scale::AroundZero);
        else
            Chart1->setPathColours(true, pathOf(*cmp), lossPer100m(*cmp, v),
                                   tr("Time lost per 100 m"), "s", Scale::AroundZero);
    } else if (!c.colourBy.isEmpty() && !c.colourBy.startsWith(QChar(1)) && track) {
        const auto index = track->channels.find(c.colourBy.toStdString());
        const auto& lap = ownLap(ref) ? ref : cmp;
        if (index && ownLap(lap))
            Chart1->setPathColours(lap == cmp, pathOf(*lap), along(lap, *index), c.colourBy,
                                   track->channels.info[*index].unit, Scale::Sequential);
        else
            Chart1->clearPathColours();
    } else {
        Chart1->clearPathColours();
    }
}

void TForm1::savePlotAs(bool chart) {
    const QString title = chart ? tr("Save chart as") : tr("Save plot as");
    const auto path = prompts_.saveFile(
        this, title, chart ? QStringLiteral("chart.png") : QStringLiteral("track.png"));
    if (!path) return;
    QCustomPlot* plot = chart ? static_cast<QCustomPlot*>(Chart2) : Chart1;
    if (const auto error = lorvane::display::savePlot(*plot, *path)) prompts_.error(this, *error);
}
