#pragma once

#include "ErrorReport.h"

#include <QtCore/QObject>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

// The catch point of a widget's entries from Qt: its events, input method
// queries, context-menu actions, accessibility calls, clipboard requests.
// Qt takes nothing thrown back: an exception there would end the process on
// the spot (std::terminate), past every object that would have put things
// back on the way out. So each entry runs through run(), and whatever it
// throws stays there.
//
// There it is the failure of one user action, not the program's: the entry
// returns its fallback (an event counts as handled, a query answers
// nothing), and failed() tells the failure, as ErrorReport::fromException
// describes it, later, from the event loop: never inside the key, mouse or
// clipboard handling that failed. A burst (a key repeating, a screen reader
// asking again) is told once: a failure while an earlier one waits to be
// told, or while failed()'s receivers run (a message box, with its own
// event loop), is dropped. What a receiver throws is dropped too: it is
// no entry's failure, and telling it would tell again what could not be
// told.
class WidgetGuard : public QObject
{
    Q_OBJECT

public:
    explicit WidgetGuard(QObject *parent = nullptr);

    // Runs an entry that returns nothing.
    template<typename Entry>
    void run(Entry &&entry) noexcept
    {
        try {
            failIfTesting();
            std::forward<Entry>(entry)();
        } catch (...) {
            note(std::current_exception());
        }
    }

    // Runs an entry and returns what it returns, or, when it throws, what
    // `fallback` (called only then) returns.
    template<typename Entry, typename Fallback>
    std::invoke_result_t<Entry &> run(Entry &&entry, Fallback &&fallback) noexcept
    {
        try {
            failIfTesting();
            return entry();
        } catch (...) {
            note(std::current_exception());
        }
        return fallback();
    }

    // Takes a failure caught elsewhere (a part of the widget that Qt calls
    // on its own and that catches for itself) as an entry's.
    void note(const std::exception_ptr &failure) noexcept;

    // For tests of a widget's entries: while set, every entry run through a
    // guard fails as it starts, with this exception; null turns it off.
    static void failEntriesForTesting(std::exception_ptr failure) { s_testFailure = std::move(failure); }

Q_SIGNALS:
    void failed(const ErrorReport &failure);

private:
    static void failIfTesting()
    {
        if (s_testFailure)
            std::rethrow_exception(s_testFailure);
    }
    void tell() noexcept;

    static inline std::exception_ptr s_testFailure;
    // From the failure noted until its receivers have returned.
    std::optional<ErrorReport> m_pending;
};
