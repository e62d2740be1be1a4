#include "ErrorReport.h"

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
