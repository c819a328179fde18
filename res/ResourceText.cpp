#include "res/ResourceText.h"

#include "res/ResourceTables.h"

#include <string_view>

QString LoadResText(int id)
{
    const std::string_view text = ResStringUtf8(id);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
