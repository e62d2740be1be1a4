#pragma once

#include <cstddef>
#include <cstdint>

// Reproducible bytes of every value, in lines of random length (0 to 159
// bytes) ended by "\r\n": what a line carrying binary and text might send.
// Two streams from the same seed give the same bytes, so a receiver can
// check what it got without the sender keeping a copy.
class ByteStream
{
public:
    explicit ByteStream(std::uint64_t seed = 0x9e3779b97f4a7c15ULL)
        : m_state(seed | 1)
    {
    }

    void generate(char *out, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            if (m_lineLeft == 0) {
                m_lineLeft = static_cast<int>(next() % 160) + 2;
            }
            --m_lineLeft;
            if (m_lineLeft == 1)
                out[i] = '\r';
            else if (m_lineLeft == 0)
                out[i] = '\n';
            else
                out[i] = static_cast<char>(static_cast<std::uint8_t>(next() >> 56));
        }
    }

private:
    // xorshift64*: fast, and good enough to hit every byte value evenly.
    std::uint64_t next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545f4914f6cdd1dULL;
    }

    std::uint64_t m_state;
    int m_lineLeft = 0;
};
