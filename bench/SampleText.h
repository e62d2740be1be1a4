#pragma once

#include "ByteStream.h"

#include <QtCore/QByteArray>

#include <cstdint>
#include <cstdio>
#include <random>

// The kinds of text the storage benchmarks fill a text box with, as bytes
// (every character U+0000..U+00FF, as a serial line brings them), generated
// a piece at a time, the same for the same seed:
// - readings: what a sensor logs, a numbered line of measurements that
//   drift, 80 characters with its "\r\n" (the demo device's kind of text);
// - random bytes: every byte value, in lines of random length (ByteStream,
//   what the throughput and full-box runs send): nothing to compress;
// - short lines: a digit and "\n", "7\n".
class SampleText
{
public:
    enum class Kind { Readings, RandomBytes, ShortLines };

    explicit SampleText(Kind kind, unsigned seed = 1)
        : m_kind(kind)
        , m_random(seed)
    {
    }

    static const char *label(Kind kind)
    {
        switch (kind) {
        case Kind::Readings: return "80-char readings";
        case Kind::RandomBytes: return "random bytes";
        case Kind::ShortLines: return "2-char lines";
        }
        return "";
    }

    // The next `count` bytes.
    QByteArray next(qsizetype count)
    {
        while (m_pending.size() < count)
            produce(count - m_pending.size());
        QByteArray piece = m_pending.left(count);
        m_pending.remove(0, count);
        return piece;
    }

private:
    void produce(qsizetype atLeast)
    {
        switch (m_kind) {
        case Kind::RandomBytes: {
            const qsizetype start = m_pending.size();
            m_pending.resize(start + atLeast);
            m_bytes.generate(m_pending.data() + start, static_cast<std::size_t>(atLeast));
            return;
        }
        case Kind::ShortLines:
            for (qsizetype i = 0; i < atLeast; i += 2) {
                m_pending.append(static_cast<char>('0' + m_random() % 10));
                m_pending.append('\n');
            }
            return;
        case Kind::Readings: {
            std::uniform_real_distribution<double> noise(-0.05, 0.05);
            char line[128];
            for (qsizetype made = 0; made < atLeast;) {
                m_temperature += noise(m_random);
                m_humidity += 4 * noise(m_random);
                m_pressure += noise(m_random);
                const int length = std::snprintf(
                    line, sizeof line,
                    "#%07ld  T=%6.2f C  RH=%5.1f %%  P=%7.1f hPa  CO2=%04d ppm  VBAT=%4.2f V  ok\r\n", ++m_reading,
                    m_temperature, m_humidity, m_pressure, 400 + static_cast<int>(m_random() % 60),
                    3.6 + static_cast<double>(m_random() % 20) / 100);
                m_pending.append(line, length);
                made += length;
            }
            return;
        }
        }
    }

    Kind m_kind;
    std::mt19937 m_random;
    ByteStream m_bytes;
    QByteArray m_pending;
    double m_temperature = 21.0;
    double m_humidity = 45.0;
    double m_pressure = 1013.0;
    long m_reading = 0;
};
