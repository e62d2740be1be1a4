#include "ErrorReport.h"

#include <new>
#include <utility>

using namespace Qt::StringLiterals;

ErrorReport::ErrorReport(std::int32_t number, QString description)
    : m_number(number)
    , m_description(std::move(description))
    , m_what((QString::number(number) + u": "_s + m_description).toUtf8())
{
}

const char *ErrorReport::what() const noexcept
{
    return m_what.constData();
}

ErrorReport ErrorReport::fromException(const std::exception_ptr &failure)
{
    if (!failure)
        return ErrorReport(ErrorNumber::InternalFailure, u"Unknown failure"_s);
    try {
        std::rethrow_exception(failure);
    } catch (const ErrorReport &report) {
        return report;
    } catch (const std::bad_alloc &) {
        return ErrorReport(ErrorNumber::InternalFailure, u"Out of memory"_s);
    } catch (const std::exception &other) {
        return ErrorReport(ErrorNumber::InternalFailure, QString::fromLocal8Bit(other.what()));
    } catch (...) {
        // Not an exception class at all (a library throwing an int, say):
        // nothing to describe it by.
        return ErrorReport(ErrorNumber::InternalFailure, u"Unknown failure"_s);
    }
}
