// Feeds any text to the directions extraction: it must never crash, and a page
// with directions must give text that starts with "1.Start at".
#include "directions/directions_extraction.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Half the inputs as Latin-1 (markup-heavy), half as raw UTF-16 (any code unit).
    QString markup;
    if (size > 0 && (data[0] & 1)) {
        markup = QString::fromUtf16(reinterpret_cast<const char16_t*>(data + 1),
                                    static_cast<qsizetype>((size - 1) / 2));
    } else {
        markup = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    }

    const auto text = tw::directions::ripDirections(markup);
    if (markup.contains(QStringLiteral("Start at")) != text.has_value())
        std::abort();
    if (text && !text->startsWith(QStringLiteral("1.Start at")))
        std::abort();

    (void)tw::directions::replaceImageTags(markup);
    (void)tw::directions::getImageAltText(markup);
    return 0;
}
