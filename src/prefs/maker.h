#pragma once

// Who makes Kalvero and where to reach them: the caption, the About box and
// the Help button all take these.
namespace kalvero::prefs {

inline constexpr const char* kAppTitle = "Kalvero 2.1";
inline constexpr const char* kAuthor = "Mira Kalvero";
inline constexpr const char* kSupportEmail = "support@kalvero.example";
inline constexpr const char* kWebHost = "www.kalvero.example";
inline constexpr const char* kWebAddress = "http://www.kalvero.example";
inline constexpr const char* kDomain = "kalvero.example";

}  // namespace kalvero::prefs
