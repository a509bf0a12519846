#pragma once
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SystemLog.h"

/// Test double of os::CSystemLog: records every report (source, text). Thread-safe.
class CFakeSystemLog : public os::CSystemLog
{
public:
    void ReportError(const std::string& strSource, const std::string& strText) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecReports.emplace_back(strSource, strText);
    }
    std::vector<std::pair<std::string, std::string>> Reports() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecReports;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecReports.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<std::string, std::string>> m_vecReports;
};

/// Test double of os::CDebugOutput: records every line passed to the debugger. Thread-safe.
class CFakeDebugOutput : public os::CDebugOutput
{
public:
    void Write(const std::string& strLine) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecLines.push_back(strLine);
    }
    std::vector<std::string> Lines() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecLines;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecLines.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_vecLines;
};
