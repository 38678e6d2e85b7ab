#pragma once

#include <QString>
#include <memory>
#include <optional>

class QSettings;

namespace kalvero::prefs {

// The options that persist per user. Each key and its built-in default are
// declared here and nowhere else.
struct BoolOption {
    const char* key;
    bool builtInDefault;
};

inline constexpr BoolOption kOnTop{"OnTop", false};
inline constexpr BoolOption kPlayClick{"PlayClickM", true};
inline constexpr BoolOption kPlayDoubleClick{"PlaySoundonDoubleClickM", false};
inline constexpr BoolOption kShowSearchBar{"ShowSearchBar", false};
inline constexpr BoolOption kPlayOnSelection{"PlayOnSelectionM", false};

// A whole number within fixed bounds, stored as its decimal text.
struct LevelOption {
    const char* key;
    int builtInDefault;
    int lowest;
    int highest;
};

// The player's volume in percent of unity gain: 0 is silent, and no stored
// value can take it above unity.
inline constexpr LevelOption kPlayerVolume{"PlayerVolume", 100, 0, 100};

// Booleans are stored as the texts "True" and "False".
QString boolText(bool value);
std::optional<bool> parseBool(const QString& text);
// Levels are stored as plain decimal numbers ("0" to "100"); anything else,
// or a number outside the option's bounds, is no level of that option.
std::optional<int> parseLevel(const QString& text, const LevelOption& option);

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
    // A level reads as its built-in default when absent or not valid; a
    // write outside the bounds stores the nearest bound.
    int read(const LevelOption& option) const;
    void write(const LevelOption& option, int value);

    // The file that holds the options.
    const QString& fileName() const { return fileName_; }

private:
    QString fileName_;
    // Null when the file could not be opened safely at start: every read
    // then gives its fallback and every write is dropped.
    std::unique_ptr<QSettings> settings_;
};

}  // namespace kalvero::prefs
