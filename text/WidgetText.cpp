#include "text/WidgetText.h"

#include "text/LocaleText.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace {

// Stateless: a sequence cut off at the end of a text is replaced, not kept
// back for a next call that never comes. An initial byte order mark is text
// like any other.
constexpr auto kFlags
    = QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;

} // namespace

QString FromLocaleBytes(std::string_view bytes)
{
    if (IsAscii(bytes))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (const auto encoding = QStringConverter::encodingForName(LocaleCodeset())) {
        QStringDecoder decoder(*encoding, kFlags);
        QString text
            = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        if (!decoder.hasError())
            return text;
        // Qt replaces each byte of a broken sequence; the locale's decoder
        // replaces the sequence once, as everywhere else.
    }
    const std::string utf8 = LocaleToUtf8(bytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToLocaleBytes(const QString& text)
{
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLatin1().toStdString();
    if (const auto encoding = QStringConverter::encodingForName(LocaleCodeset())) {
        QStringEncoder encoder(*encoding, kFlags);
        return QByteArray(encoder.encode(text)).toStdString();
    }
    return Utf8ToLocale(text.toUtf8().toStdString());
}
