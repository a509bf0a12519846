#include "StopWatch.h"

void CStopWatch::Start()
{
    m_nFrequency = m_clock.CounterFrequency();
    m_nStart = m_clock.QueryCounter();
}

void CStopWatch::Stop()
{
    m_nStop = m_clock.QueryCounter();
}

double CStopWatch::Seconds() const
{
    const double dDelta = m_nStop >= m_nStart ? static_cast<double>(m_nStop - m_nStart)
                                              : -static_cast<double>(m_nStart - m_nStop);
    return dDelta / static_cast<double>(m_nFrequency ? m_nFrequency : 1);
}
