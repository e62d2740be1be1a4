// Throws arbitrary text at LineSettings::parse. What must hold for every
// input: no crash and no undefined behaviour; a refusal is an ErrorReport
// InvalidPropertyValue quoting the text; an accepted text is the canonical
// spelling up to the parity letter's case and leading zeros of the baud
// rate, and the canonical spelling parses back to the same settings.
#include "ErrorReport.h"
#include "LineSettings.h"

#include <QtCore/QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void broken(const char *what, const QString &text)
{
    std::fprintf(stderr, "LineSettings: %s for \"%s\"\n", what, text.toUtf8().constData());
    std::abort();
}

// The first byte picks how the rest becomes text: UTF-8 (what a user
// types), Latin-1 (every byte a character) or UTF-16 (lone surrogates,
// digits of other scripts, characters whose lower case is ASCII).
QString textFrom(const std::uint8_t *data, std::size_t size)
{
    const auto *rest = reinterpret_cast<const char *>(data + 1);
    const auto length = static_cast<qsizetype>(size - 1);
    switch (data[0] % 3) {
    case 0: return QString::fromUtf8(rest, length);
    case 1: return QString::fromLatin1(rest, length);
    default: {
        // Copied, as the bytes need not be aligned for char16_t.
        std::vector<char16_t> units((size - 1) / 2);
        if (!units.empty())
            std::memcpy(units.data(), rest, units.size() * sizeof(char16_t));
        return QString(reinterpret_cast<const QChar *>(units.data()),
                       static_cast<qsizetype>(units.size()));
    }
    }
}

// "0009600,N,8,1" -> "9600,N,8,1": the spellings the parser may accept
// besides the canonical one.
QString withoutLeadingZeros(const QString &text)
{
    qsizetype zeros = 0;
    while (zeros + 1 < text.size() && text.at(zeros) == u'0' && text.at(zeros + 1).isDigit())
        ++zeros;
    return text.mid(zeros);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QString text = textFrom(data, size);
    try {
        const LineSettings settings = LineSettings::parse(text);
        const QString canonical = settings.toString();
        if (canonical.compare(withoutLeadingZeros(text), Qt::CaseInsensitive) != 0)
            broken("accepted a text that is not a spelling of its settings", text);
        if (!(LineSettings::parse(canonical) == settings))
            broken("the canonical spelling does not parse back", text);
    } catch (const ErrorReport &report) {
        if (report.Number() != ErrorNumber::InvalidPropertyValue)
            broken("refused with the wrong number", text);
        if (!report.Description().startsWith(u"Invalid Settings \""_s + text + u"\": "_s))
            broken("refused without quoting the text", text);
    }
    return 0;
}
