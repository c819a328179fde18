#include "hosts/ResultValue.h"

#include "text/LocaleText.h"

#include <cstdio>

std::string ResultText(std::int32_t result)
{
    if (result == kResultNoReply)
        return "N/A";
    char text[32];
    std::snprintf(text, sizeof text, "%ld ms", static_cast<long>(result));
    return text;
}

const std::string& InFlightMark()
{
    // Asked for at every probe start: converted once per thread and codeset.
    thread_local std::string codeset;
    thread_local std::string mark;
    const char* now = LocaleCodeset();
    if (mark.empty() || codeset != now) {
        codeset = now;
        mark = Utf8ToLocale(kInFlightMarkUtf8);
    }
    return mark;
}
