#pragma once

#include <QString>
#include <memory>
#include <optional>

class QSettings;

namespace kalvero::prefs {

// The four options that persist per user. Each key and its built-in default
// are declared here and nowhere else.
struct BoolOption {
    const char* key;
    bool builtInDefault;
};

inline constexpr BoolOption kOnTop{"OnTop", false};
inline constexpr BoolOption kPlayClick{"PlayClickM", true};
inline constexpr BoolOption kPlayDoubleClick{"PlaySoundonDoubleClickM", false};
inline constexpr BoolOption kShowSearchBar{"ShowSearchBar", false};

// Booleans are stored as the texts "True" and "False".
QString boolText(bool value);
std::optional<bool> parseBool(const QString& text);

// The per-user store: an INI file, ~/.config/Kalvero/Kalvero.conf (following
// XDG_CONFIG_HOME), group [Options].
// Reading never fails: a missing key, a value that is not one of the two
// texts, or a store that cannot be read gives the fallback. Each write is on
// disk when write() returns; a write that fails is dropped without a word.
class OptionStore {
public:
    OptionStore();
    ~OptionStore();

    bool read(const BoolOption& option, bool fallback) const;
    void write(const BoolOption& option, bool value);

    // The file that holds the options.
    const QString& fileName() const { return fileName_; }

private:
    QString fileName_;
    // Null when the file could not be opened safely at start: every read
    // then gives its fallback and every write is dropped.
    std::unique_ptr<QSettings> settings_;
};

}  // namespace kalvero::prefs
