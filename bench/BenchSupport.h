#pragma once

#include "TextValue.h"

class ByteStream;

#include <QtCore/QtGlobal>

#include <functional>

// Small pieces both benchmark programs need.
namespace BenchSupport {

// Runs the event loop until the condition holds, checking it every `pollMs`
// (a slow poll keeps the checking out of CPU figures); false on timeout.
bool runUntil(const std::function<bool()> &condition, double timeoutSeconds, int pollMs = 1);

// Whether `count` characters of `shown` from `from` on are exactly the
// first `count` bytes of a default ByteStream, each byte as one Latin-1
// character.
bool matchesByteStream(const TextValue &shown, qsizetype from, qsizetype count);
// The same against the next `count` bytes of `expected`, which moves on by
// that many whatever the outcome.
bool matchesByteStream(const TextValue &shown, qsizetype from, qsizetype count, ByteStream &expected);

} // namespace BenchSupport
