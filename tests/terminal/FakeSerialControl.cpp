#include "FakeSerialControl.h"

using namespace Qt::StringLiterals;

void FakeSerialControl::record(Call call, const QString &entry) const
{
    m_calls.append(entry);
    if (const auto failure = m_failures.find(call); failure != m_failures.end())
        throw failure->second;
}

void FakeSerialControl::receive(const QString &characters)
{
    m_input += characters;
    Q_EMIT OnComm();
}

std::int16_t FakeSerialControl::CommPort() const
{
    record(Call::GetCommPort, u"CommPort?"_s);
    return m_commPort;
}

void FakeSerialControl::setCommPort(std::int16_t port)
{
    record(Call::SetCommPort, u"CommPort="_s + QString::number(port));
    m_commPort = port;
}

void FakeSerialControl::setDTREnable(bool enable)
{
    record(Call::SetDTREnable, enable ? u"DTREnable=true"_s : u"DTREnable=false"_s);
    m_dtrEnable = enable;
}

void FakeSerialControl::setSettings(const QString &settings)
{
    record(Call::SetSettings, u"Settings="_s + settings);
    m_settings = settings;
}

void FakeSerialControl::setRThreshold(std::int16_t threshold)
{
    record(Call::SetRThreshold, u"RThreshold="_s + QString::number(threshold));
    m_rThreshold = threshold;
}

bool FakeSerialControl::PortOpen() const
{
    record(Call::GetPortOpen, u"PortOpen?"_s);
    return m_portOpen;
}

void FakeSerialControl::setPortOpen(bool open)
{
    record(Call::SetPortOpen, open ? u"PortOpen=true"_s : u"PortOpen=false"_s);
    m_portOpen = open;
}

QString FakeSerialControl::Input()
{
    record(Call::GetInput, u"Input?"_s);
    return std::exchange(m_input, QString());
}
