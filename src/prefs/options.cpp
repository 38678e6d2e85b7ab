#include "prefs/options.h"

#include <QSettings>

namespace kalvero::prefs {

namespace {
QString keyPath(const BoolOption& option) {
    return QStringLiteral("Options/") + QLatin1String(option.key);
}
}  // namespace

QString boolText(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

std::optional<bool> parseBool(const QString& text) {
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
    return std::nullopt;
}

OptionStore::OptionStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Kalvero"), QStringLiteral("Kalvero"))) {}

OptionStore::~OptionStore() = default;

bool OptionStore::read(const BoolOption& option, bool fallback) const {
    const QVariant value = settings_->value(keyPath(option));
    if (!value.isValid()) return fallback;
    return parseBool(value.toString()).value_or(fallback);
}

void OptionStore::write(const BoolOption& option, bool value) {
    settings_->setValue(keyPath(option), boolText(value));
    settings_->sync();
}

}  // namespace kalvero::prefs
