#pragma once

#include <QtCore/QString>

#include <cstdint>

// The line settings of a serial port as the Settings property spells them:
// "baud,parity,data,stop", e.g. "9600,n,8,1".
//
// Parsing is strict: exactly four comma-separated fields, no spaces, no signs.
//   baud    decimal digits only, 1 to 2147483647
//   parity  one letter of n, e, o, m, s (none, even, odd, mark, space), either case
//   data    5, 6, 7 or 8
//   stop    1, 1.5 or 2
// Anything else throws ErrorReport InvalidPropertyValue naming the first bad
// field and quoting the whole text. Nothing falls back to a default.
//
// Whether a device can actually run a parsed setting (1.5 stop bits, an
// unusual baud rate) is the port's business, not this class's.
//
// Qt Core only, so it can be linked and exercised on its own.
class LineSettings
{
public:
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    // 9600,n,8,1.
    LineSettings() = default;

    static LineSettings parse(const QString &text);

    std::int32_t baudRate() const noexcept { return m_baudRate; }
    Parity parity() const noexcept { return m_parity; }
    int dataBits() const noexcept { return m_dataBits; }
    StopBits stopBits() const noexcept { return m_stopBits; }

    // The canonical spelling, lower-case parity: parse(toString()) == *this.
    QString toString() const;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;

private:
    std::int32_t m_baudRate = 9600;
    Parity m_parity = Parity::None;
    int m_dataBits = 8;
    StopBits m_stopBits = StopBits::One;
};
