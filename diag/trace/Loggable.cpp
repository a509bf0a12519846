#include "Loggable.h"

CLoggable::~CLoggable()
{
    if (m_bOwner)
        delete m_pLog;
}

void CLoggable::SetLog(CLog* pLog, bool bOwner)
{
    // Setting the same sink again must not delete it under the new holder's feet.
    if (m_bOwner && m_pLog != pLog)
        delete m_pLog;
    m_pLog = pLog;
    m_bOwner = bOwner;
}

void CLoggable::AppendText(const std::string& strText)
{
    if (m_pLog)
        m_pLog->AppendText(strText);
}

void CLoggable::AddLine(const std::string& strText)
{
    if (m_pLog)
        m_pLog->AddLine(strText);
}

void CLoggable::ClearLog()
{
    if (m_pLog)
        m_pLog->ClearLog();
}
