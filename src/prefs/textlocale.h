#pragma once

namespace kalvero::prefs {

// Takes the user's locale, with UTF-8 as its character encoding whatever the
// environment says. Call it first thing in main, before Qt starts: Qt and the
// X libraries read and write text (window titles among it) in the locale's
// encoding, and under "C" or POSIX a title with "é" or "ж" reaches the window
// manager garbled.
void useUtf8Locale();

}  // namespace kalvero::prefs
