#pragma once

#include "ErrorReport.h"
#include "SerialControl.h"

#include <QtCore/QStringList>

#include <map>
#include <optional>

// A serial control for handler tests: it keeps its properties in memory,
// records every property call in order, and fails any chosen call with a
// given report for as long as that failure is set.
class FakeSerialControl final : public SerialControl
{
    Q_OBJECT

public:
    enum class Call {
        GetCommPort, SetCommPort, SetDTREnable, SetSettings, SetRThreshold,
        GetPortOpen, SetPortOpen, GetInput,
    };

    void failOn(Call call, const ErrorReport &failure) { m_failures.insert_or_assign(call, failure); }
    void succeedOn(Call call) { m_failures.erase(call); }

    // Every call so far, e.g. "Settings=9600,n,8,1" for a set, "PortOpen?"
    // for a get; failed calls are recorded too.
    const QStringList &calls() const { return m_calls; }
    void clearCalls() { m_calls.clear(); }

    // The device sends: the characters wait for Input and OnComm is raised.
    void receive(const QString &characters);

    // Opens or closes the port behind the program's back.
    void forcePortOpen(bool open) { m_portOpen = open; }
    void forceCommPort(std::int16_t port) { m_commPort = port; }

    std::int16_t CommPort() const override;
    void setCommPort(std::int16_t port) override;
    bool DTREnable() const override { return m_dtrEnable; }
    void setDTREnable(bool enable) override;
    QString Settings() const override { return m_settings; }
    void setSettings(const QString &settings) override;
    std::int16_t RThreshold() const override { return m_rThreshold; }
    void setRThreshold(std::int16_t threshold) override;
    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    QString Input() override;
    qsizetype receiveLimit() const override { return m_receiveLimit; }
    void setReceiveLimit(qsizetype limit) { m_receiveLimit = limit; }

private:
    void record(Call call, const QString &entry) const;

    std::map<Call, ErrorReport> m_failures;
    mutable QStringList m_calls;
    std::int16_t m_commPort = 3; // not 1, so a label shows which value it read
    bool m_dtrEnable = true;
    QString m_settings = QStringLiteral("1200,e,7,2");
    std::int16_t m_rThreshold = 0;
    bool m_portOpen = false;
    QString m_input;
    qsizetype m_receiveLimit = 4096;
};
