#pragma once
// One line per worker message, for tests that compare whole message sequences.
#include <cstdio>
#include <string>
#include <vector>

#include "WorkerMessages.h"

/// One line per worker message, so that a test compares whole sequences:
///   "T<n>"   WM_REPORT with text number n      "X<text>"  WM_REPORT with a text payload
///   "L<text>|<hex>"  log record                "I<n>"     status icon n
///   "O<n>" "B<n>" "P<n>/<bytes>" "S<n>"  operation, busy, packet sent, packet size
///   "D"      certificate dates
inline std::vector<std::string> RunTrace(const std::vector<SWorkerMessage>& vecMessages)
{
    std::vector<std::string> vec;
    for (const auto& msg : vecMessages)
    {
        switch (msg.eMessage)
        {
        case wm::WM_REPORT:
            if (msg.nWParam == wm::TEXT_LOG_RECORD)
            {
                const auto* pRecord = std::get_if<WorkerLogRecord>(&msg.payload);
                std::string str = "L" + (pRecord ? pRecord->strText : std::string("?")) + "|";
                if (pRecord)
                    for (uint8_t b : pRecord->vecData)
                    {
                        char sz[4];
                        std::snprintf(sz, sizeof(sz), "%02X ", b);
                        str += sz;
                    }
                vec.push_back(str);
            }
            else if (msg.nWParam == wm::REPORT_PAYLOAD_TEXT)
            {
                const auto* pText = std::get_if<std::string>(&msg.payload);
                vec.push_back("X" + (pText ? *pText : std::string("?")));
            }
            else if (msg.nWParam == wm::STATUS_ICON)
                vec.push_back("I" + std::to_string(msg.nLParam));
            else
                vec.push_back("T" + std::to_string(msg.nWParam));
            break;
        case wm::WM_OPERATION: vec.push_back("O" + std::to_string(msg.nWParam)); break;
        case wm::WM_BUSY: vec.push_back("B" + std::to_string(msg.nWParam)); break;
        case wm::WM_PACKET_SENT:
            vec.push_back("P" + std::to_string(msg.nWParam) + "/" + std::to_string(msg.nLParam));
            break;
        case wm::WM_PACKET_SIZE: vec.push_back("S" + std::to_string(msg.nWParam)); break;
        case wm::WM_CERT_DATES: vec.push_back("D"); break;
        default: vec.push_back("?" + std::to_string(msg.eMessage)); break;
        }
    }
    return vec;
}

/// Lines of RunTrace whose kind letter is one of strKinds.
inline std::vector<std::string> OnlyKinds(const std::vector<std::string>& vec, const std::string& strKinds)
{
    std::vector<std::string> out;
    for (const auto& s : vec)
        if (!s.empty() && strKinds.find(s[0]) != std::string::npos)
            out.push_back(s);
    return out;
}
