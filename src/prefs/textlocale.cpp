#include "prefs/textlocale.h"

#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace kalvero::prefs {

void useUtf8Locale() {
    std::setlocale(LC_ALL, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
    // Qt sets the locale again from the environment when it starts, so the
    // environment is what must say UTF-8; the player we start inherits it.
    // C.UTF-8 is on every Debian system. Only the character encoding changes:
    // a locale named in LC_ALL keeps the other categories through LANG.
    if (const char* all = std::getenv("LC_ALL"); all && *all) {
        setenv("LANG", all, 1);
        unsetenv("LC_ALL");
    }
    setenv("LC_CTYPE", "C.UTF-8", 1);
    std::setlocale(LC_ALL, "");
}

}  // namespace kalvero::prefs
