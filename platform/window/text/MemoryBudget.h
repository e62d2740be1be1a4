#pragma once

#include <QtCore/QObject>
#include <QtCore/QStringView>
#include <QtCore/QTimer>

// How much a text may grow: what every text value's storage takes together
// (TextValue::bytesInUse(): compressed chunks at their compressed size, and
// what holding each chunk costs besides) against a limit, half the memory the
// process may use (MemoryLimit) unless set otherwise. It is full once less
// than a reserve is left: the most one append may add, and whatever its
// source holds meanwhile outside the text. An owner that asks before each
// append never goes past the limit.
//
// Chunks still waiting for compression count at their full size; before it
// says the text is full, it has them compressed (ChunkCompressor::finish),
// so a full text is one that really is.
//
// An edit by the user asks whether it fits in the limit itself (allows()):
// the reserve is the owner's, for what the device sends.
//
// While full it looks for room now and then, since compression frees some
// on its own, and says when there is room again.
class MemoryBudget : public QObject
{
    Q_OBJECT

public:
    explicit MemoryBudget(QObject *parent = nullptr);

    bool isFull() const;
    // Whether `bytes` more storage stays within the limit, reserve or not:
    // for an edit by the user, which the owner does not ask about.
    bool allows(qsizetype bytes) const;

    // What an edit may add besides its characters: the chunks around it
    // are written anew.
    static constexpr qsizetype EditCost = 64 * 1024;
    // What the characters of a string take in storage at most: one byte a
    // character where all are Latin-1, two otherwise.
    static qsizetype storageOf(QStringView text);
    // What joining `characters` Latin-1 characters to a text adds to its
    // storage at most, the chunks they open included.
    static qsizetype appendCost(qsizetype characters);
    // How many received characters may wait unread in a process that may
    // use `memory` bytes: a sixty-fourth of it, at least 256 KiB and at most
    // 64 MiB. Reception holds a few times that outside the text (see the
    // reserve), and a line stalled that long at 115200 baud is a minute or
    // more of data even at the least.
    static qsizetype receiveLimitFor(qint64 memory);
    void setReserve(qsizetype bytes);
    void setLimit(qsizetype bytes);
    qsizetype limit() const { return m_limit; }

Q_SIGNALS:
    // It was full and is no longer.
    void roomAvailable();

private:
    void lookForRoom();

    qsizetype m_limit = 0;
    qsizetype m_reserve = 0;
    // Runs while full.
    mutable QTimer m_watch;
};
