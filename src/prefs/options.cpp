#include "prefs/options.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>

namespace kalvero::prefs {

namespace {

// The options take a few dozen bytes; anything far larger is not ours to parse.
constexpr qint64 kLargestStoreBytes = 1024 * 1024;

QString keyPath(const char* key) { return QStringLiteral("Options/") + QLatin1String(key); }

// The per-user settings folder, where QSettings keeps per-user INI files:
// $XDG_CONFIG_HOME, or ~/.config.
QString userSettingsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// QSettings reads its file to the end, waits for its lock file without a
// time limit, and saves by renaming a new file over the old one (through a
// link, over the link's target). A pipe there would block the read, a folder
// in place of the lock file would keep a write waiting forever, and a link to
// /dev/null would have the device replaced when run as root. Only a plain file
// of a sane size, or nothing at all, is handed to it.
bool isSafeToOpen(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return true;
    return info.isFile() && info.size() <= kLargestStoreBytes;
}

bool isSafeToWrite(const QString& fileName) {
    return isSafeToOpen(fileName) && isSafeToOpen(fileName + QLatin1String(".lock")) &&
           isSafeToOpen(fileName + QLatin1String(".lock.rmlock"));
}

}  // namespace

QString boolText(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

std::optional<bool> parseBool(const QString& text) {
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
    return std::nullopt;
}

std::optional<int> parseLevel(const QString& text, const LevelOption& option) {
    // Digits only: no sign, blank, exponent or fraction that toInt() might take.
    if (text.isEmpty() || text.size() > 9) return std::nullopt;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    const int value = text.toInt();
    if (value < option.lowest || value > option.highest) return std::nullopt;
    return value;
}

OptionStore::OptionStore()
    : fileName_(userSettingsFolder() + QLatin1String("/Kalvero/Kalvero.conf")) {
    if (isSafeToOpen(fileName_))
        settings_ = std::make_unique<QSettings>(fileName_, QSettings::IniFormat);
}

OptionStore::~OptionStore() = default;

bool OptionStore::read(const BoolOption& option, bool fallback) const {
    if (!settings_) return fallback;
    const QVariant value = settings_->value(keyPath(option.key));
    if (!value.isValid()) return fallback;
    return parseBool(value.toString()).value_or(fallback);
}

void OptionStore::write(const BoolOption& option, bool value) {
    if (!settings_ || !isSafeToWrite(fileName_)) return;
    settings_->setValue(keyPath(option.key), boolText(value));
    settings_->sync();
}

int OptionStore::read(const LevelOption& option) const {
    if (!settings_) return option.builtInDefault;
    const QVariant value = settings_->value(keyPath(option.key));
    if (!value.isValid()) return option.builtInDefault;
    return parseLevel(value.toString(), option).value_or(option.builtInDefault);
}

void OptionStore::write(const LevelOption& option, int value) {
    if (!settings_ || !isSafeToWrite(fileName_)) return;
    value = std::clamp(value, option.lowest, option.highest);
    settings_->setValue(keyPath(option.key), QString::number(value));
    settings_->sync();
}

}  // namespace kalvero::prefs
