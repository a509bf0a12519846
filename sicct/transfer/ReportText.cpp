#include "ReportText.h"

#include <cstdio>

#include "Texts.h"

namespace wm
{
std::string ReportText(const SWorkerMessage& msg, bool bMarkUnknown)
{
    if (msg.eMessage != WM_REPORT || msg.nWParam == STATUS_ICON)
        return {};
    if (msg.nWParam == REPORT_PAYLOAD_TEXT)
    {
        const auto* pText = std::get_if<std::string>(&msg.payload);
        return pText != nullptr ? *pText : std::string();
    }
    if (msg.nWParam == TEXT_WSA_ERROR)
        return texts::Format(static_cast<int>(TEXT_WSA_ERROR), static_cast<unsigned>(msg.nLParam));
    if (msg.nWParam == TEXT_LOG_RECORD)
    {
        const auto* pRecord = std::get_if<WorkerLogRecord>(&msg.payload);
        if (pRecord == nullptr)
            return {};
        std::string strText = pRecord->strText;
        char sz[4];
        for (uint8_t b : pRecord->vecData)
        {
            std::snprintf(sz, sizeof sz, "%02X ", b);
            strText += sz;
        }
        return strText;
    }
    const std::string_view sv =
        msg.nWParam > 0 && msg.nWParam <= 0xFFFF ? texts::Get(static_cast<int>(msg.nWParam)) : std::string_view();
    if (sv.empty() && bMarkUnknown)
        return "#" + std::to_string(msg.nWParam);
    return std::string(sv);
}
} // namespace wm
