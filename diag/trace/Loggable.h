#pragma once
#include <string>

#include "Log.h"

/// Keeps a pointer to a log text sink and forwards texts and commands to it. Objects that
/// report to a dialog's log pane hold one. The holder owns the sink only when told so
/// (bOwner); an owned sink is deleted when it is replaced or the holder is destroyed.
/// Not thread-safe: one thread sets and uses the sink (the sink's own rules apply).
class CLoggable
{
public:
    CLoggable() = default;
    explicit CLoggable(CLog* pLog, bool bOwner = false) : m_pLog(pLog), m_bOwner(bOwner) {}
    ~CLoggable();
    CLoggable(const CLoggable&) = delete;
    CLoggable& operator=(const CLoggable&) = delete;

    /// Replaces the sink (nullptr: none); the previous one is deleted when it was owned.
    void SetLog(CLog* pLog, bool bOwner = false);
    CLog* GetLog() const { return m_pLog; }
    bool IsOwner() const { return m_bOwner; }

    /// Each passes the text or command on to the sink; without a sink nothing happens.
    void AppendText(const std::string& strText);
    void AddLine(const std::string& strText);
    void ClearLog();

private:
    CLog* m_pLog = nullptr;
    bool m_bOwner = false;
};
