#include "gui/app/app_settings.h"

#include <cmath>

#include <QDir>
#include <QSettings>

namespace lorvane::app {

namespace {

QString folderKey(AppSettings::Folder dialog) {
    switch (dialog) {
    case AppSettings::Folder::StartFinish: return QStringLiteral("folders/startFinish");
    case AppSettings::Folder::Log: return QStringLiteral("folders/log");
    case AppSettings::Folder::ReferenceSave: return QStringLiteral("folders/referenceSave");
    case AppSettings::Folder::ReferenceOpen: return QStringLiteral("folders/referenceOpen");
    case AppSettings::Folder::Export: return QStringLiteral("folders/export");
    }
    return QStringLiteral("folders/other");
}

const QString kRulesDirection = QStringLiteral("rules/direction");
const QString kRulesGateWidth = QStringLiteral("rules/gateWidth");
const QString kRulesMinLap = QStringLiteral("rules/minLap");
const QString kRulesMaxGap = QStringLiteral("rules/maxGap");
const QString kSpeedUnit = QStringLiteral("units/speed");
const QString kDistanceUnit = QStringLiteral("units/distance");
const QString kChannels = QStringLiteral("channels/chosen");
const QString kGeometry = QStringLiteral("window/geometry");
const QString kState = QStringLiteral("window/state");
const QString kRecent = QStringLiteral("recent/logs");

// A number stored as text by us ('.' always); nothing when it is not a
// finite number within [low, high].
std::optional<double> number(const QSettings& s, const QString& key, double low, double high) {
    bool ok = false;
    const double v = s.value(key).toString().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < low || v > high) return std::nullopt;
    return v;
}

QString numberText(double v) {
    return QString::number(v, 'g', 17);
}

QStringList strings(const QSettings& s, const QString& key) {
    const QVariant v = s.value(key);
    if (!v.canConvert<QStringList>()) return {};
    QStringList list = v.toStringList();
    list.removeAll(QString());
    return list;
}

} // namespace

AppSettings::AppSettings() : store_(std::make_unique<QSettings>()) {}

AppSettings::AppSettings(const QString& iniFile)
    : store_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

AppSettings::~AppSettings() = default;

QString AppSettings::folder(Folder dialog) const {
    const QString f = store_->value(folderKey(dialog)).toString();
    return !f.isEmpty() && QDir(f).exists() ? f : QString();
}

void AppSettings::setFolder(Folder dialog, const QString& folder) {
    store_->setValue(folderKey(dialog), folder);
}

std::optional<GateRules> AppSettings::gateRules() const {
    if (!store_->contains(kRulesDirection)) return std::nullopt;
    GateRules r;
    if (const auto d = parseDirection(store_->value(kRulesDirection).toString().toStdString()))
        r.direction = *d;
    // The dialog's ranges: a gate of up to a kilometre, a lap of up to a day.
    r.gateWidth = number(*store_, kRulesGateWidth, 0.01, 1000);
    r.minLap = number(*store_, kRulesMinLap, 0, 86400).value_or(r.minLap);
    r.maxGap = number(*store_, kRulesMaxGap, -86400, 86400).value_or(r.maxGap);
    return r;
}

void AppSettings::setGateRules(const GateRules& rules) {
    store_->setValue(kRulesDirection, QString::fromUtf8(directionName(rules.direction).data()));
    if (rules.gateWidth)
        store_->setValue(kRulesGateWidth, numberText(*rules.gateWidth));
    else
        store_->remove(kRulesGateWidth);
    store_->setValue(kRulesMinLap, numberText(rules.minLap));
    store_->setValue(kRulesMaxGap, numberText(rules.maxGap));
}

Units AppSettings::units() const {
    Units u;
    if (const auto s = parseSpeedUnit(store_->value(kSpeedUnit).toString().toStdString()))
        u.speed = *s;
    if (const auto d = parseDistanceUnit(store_->value(kDistanceUnit).toString().toStdString()))
        u.distance = *d;
    return u;
}

void AppSettings::setUnits(const Units& units) {
    store_->setValue(kSpeedUnit, QString::fromLatin1(speedUnitName(units.speed)));
    store_->setValue(kDistanceUnit, QString::fromLatin1(distanceUnitName(units.distance)));
}

QStringList AppSettings::chosenChannels() const {
    QStringList names = strings(*store_, kChannels);
    names.removeDuplicates();
    return names;
}

void AppSettings::setChosenChannels(const QStringList& names) {
    store_->setValue(kChannels, names);
}

QByteArray AppSettings::windowGeometry() const {
    return store_->value(kGeometry).toByteArray();
}

QByteArray AppSettings::windowState() const {
    return store_->value(kState).toByteArray();
}

void AppSettings::setWindow(const QByteArray& geometry, const QByteArray& state) {
    store_->setValue(kGeometry, geometry);
    store_->setValue(kState, state);
}

QStringList AppSettings::recentLogs() const {
    QStringList list = strings(*store_, kRecent);
    list.removeDuplicates();
    return list.mid(0, kRecentLogs);
}

void AppSettings::setRecentLogs(const QStringList& paths) {
    store_->setValue(kRecent, paths.mid(0, kRecentLogs));
}

void AppSettings::sync() {
    store_->sync();
}

QStringList withRecentLog(QStringList list, const QString& path) {
    list.removeAll(path);
    list.prepend(path);
    while (list.size() > AppSettings::kRecentLogs) list.removeLast();
    return list;
}

} // namespace lorvane::app
