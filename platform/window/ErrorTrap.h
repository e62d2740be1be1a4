#pragma once

#include "ErrorReport.h"

#include <functional>
#include <optional>
#include <utility>

// The error trap of one handler. Once armed (constructed), each step run
// through it either completes or, when it throws an ErrorReport, hands the
// report to the handler's report section; the handler then resumes with its
// next step. The report section itself runs with the trap inactive: a failure
// there is not caught here and goes on to the host's default report.
//
// It traps ErrorReport only; anything else is not a control's failure and is
// left to the host.
class ErrorTrap
{
public:
    using ReportSection = std::function<void(const ErrorReport &failure)>;

    explicit ErrorTrap(ReportSection reportSection)
        : m_reportSection(std::move(reportSection))
    {
    }

    template<typename Step>
    void run(Step &&step) const
    {
        std::optional<ErrorReport> failure;
        try {
            std::forward<Step>(step)();
        } catch (const ErrorReport &report) {
            failure = report;
        }
        // Outside the catch block, so that a failure in the report section
        // leaves this trap rather than being mistaken for the step's own.
        if (failure)
            m_reportSection(*failure);
    }

private:
    ReportSection m_reportSection;
};
