#include "LineSettings.h"

#include "ErrorReport.h"

#include <QtCore/QList>
#include <QtCore/QStringView>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void reject(const QString &text, const QString &reason)
{
    throw ErrorReport(ErrorNumber::InvalidPropertyValue,
                      u"Invalid Settings \"%1\": %2"_s.arg(text, reason));
}

// QString::toInt would accept a sign, surrounding spaces and non-ASCII
// digits; the baud field allows none of them.
bool parseBaudRate(QStringView field, std::int32_t &baudRate)
{
    if (field.isEmpty())
        return false;
    std::int64_t value = 0;
    for (const QChar c : field) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c.unicode() - u'0');
        if (value > std::numeric_limits<std::int32_t>::max())
            return false;
    }
    if (value == 0)
        return false;
    baudRate = static_cast<std::int32_t>(value);
    return true;
}

bool parseParity(QStringView field, LineSettings::Parity &parity)
{
    if (field.size() != 1)
        return false;
    switch (field.front().toLower().unicode()) {
    case u'n': parity = LineSettings::Parity::None; return true;
    case u'e': parity = LineSettings::Parity::Even; return true;
    case u'o': parity = LineSettings::Parity::Odd; return true;
    case u'm': parity = LineSettings::Parity::Mark; return true;
    case u's': parity = LineSettings::Parity::Space; return true;
    default: return false;
    }
}

bool parseDataBits(QStringView field, int &dataBits)
{
    if (field.size() != 1 || field.front() < u'5' || field.front() > u'8')
        return false;
    dataBits = field.front().unicode() - u'0';
    return true;
}

bool parseStopBits(QStringView field, LineSettings::StopBits &stopBits)
{
    if (field == u"1")
        stopBits = LineSettings::StopBits::One;
    else if (field == u"1.5")
        stopBits = LineSettings::StopBits::OneAndHalf;
    else if (field == u"2")
        stopBits = LineSettings::StopBits::Two;
    else
        return false;
    return true;
}

QChar parityLetter(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::None: return u'n';
    case LineSettings::Parity::Even: return u'e';
    case LineSettings::Parity::Odd: return u'o';
    case LineSettings::Parity::Mark: return u'm';
    case LineSettings::Parity::Space: return u's';
    }
    return u'n';
}

QString stopBitsText(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
    case LineSettings::StopBits::One: return u"1"_s;
    case LineSettings::StopBits::OneAndHalf: return u"1.5"_s;
    case LineSettings::StopBits::Two: return u"2"_s;
    }
    return u"1"_s;
}

} // namespace

LineSettings LineSettings::parse(const QString &text)
{
    const QList<QStringView> fields = QStringView(text).split(u',');
    if (fields.size() != 4) {
        reject(text, u"expected four fields \"baud,parity,data,stop\", found %1"_s.arg(
                         fields.size()));
    }

    LineSettings settings;
    if (!parseBaudRate(fields[0], settings.m_baudRate))
        reject(text, u"baud rate must be a decimal number from 1 to 2147483647"_s);
    if (!parseParity(fields[1], settings.m_parity))
        reject(text, u"parity must be one of n, e, o, m, s"_s);
    if (!parseDataBits(fields[2], settings.m_dataBits))
        reject(text, u"data bits must be 5, 6, 7 or 8"_s);
    if (!parseStopBits(fields[3], settings.m_stopBits))
        reject(text, u"stop bits must be 1, 1.5 or 2"_s);
    return settings;
}

QString LineSettings::toString() const
{
    return u"%1,%2,%3,%4"_s.arg(QString::number(m_baudRate), QString(parityLetter(m_parity)),
                                QString::number(m_dataBits), stopBitsText(m_stopBits));
}
