#pragma once

#include "UniqueFd.h"

#include <QtCore/QObject>
#include <QtCore/QStringList>

#include <memory>

class QSocketNotifier;

// Tells, through inotify, when something appears, changes its permissions or
// goes away in a few directories: a device node made by the kernel, its mode
// set by udev a moment later, a lock file removed. Nothing is polled: the
// thread it lives on sleeps until the kernel has news.
//
// It watches the directories themselves, not their subdirectories. A
// directory that cannot be watched is left out; when none can be (no
// inotify to be had), changed() is never emitted.
class DirectoryWatch final : public QObject
{
    Q_OBJECT

public:
    explicit DirectoryWatch(const QStringList &directories, QObject *parent = nullptr);
    ~DirectoryWatch() override;

Q_SIGNALS:
    // Once for every batch of news the kernel had, however many entries.
    void changed();

private:
    void drain();

    UniqueFd m_inotify;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
