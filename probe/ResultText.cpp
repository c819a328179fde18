#include "probe/ResultText.h"

#include <cstdio>

std::string ResultText(std::int32_t result)
{
    if (result == -1)
        return "N/A";
    char text[32];
    std::snprintf(text, sizeof text, "%ld ms", static_cast<long>(result));
    return text;
}
