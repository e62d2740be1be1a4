#pragma once

#include <QtCore/QMetaMethod>
#include <QtCore/QMetaObject>

// The method of `type` with `signature` ("deliverOnComm()"; normalised here).
// Throws std::logic_error naming both when `type` has no such method: a
// lookup by name that came back empty would give an invalid QMetaMethod,
// whose invoke() does nothing and says so only in a warning. Done when a
// control is built, so that a renamed method stops it there, not every
// delivery afterwards, silently.
QMetaMethod requiredMethod(const QMetaObject &type, const char *signature);
