#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

/// Judging a SICCT response by its status word: success or failure, and the texts (by
/// string-table number) to report for it. The texts depend on the kind of command; a small
/// set of common rows applies to every kind first. Pure functions, safe from any thread.
namespace sicct
{
enum class ECommandKind
{
    CardResetOrCertificate,  // card reset (116) and certificate list write
    StatusQuery,             // 112, 114, 117-121
    SessionOpen,
    SessionClose,
    DownloadInit,            // 105
    DownloadData,            // data packets, INS 0x25 and 0x26
    DownloadFinish,          // 106
    NoTexts,                 // display text and others: judged, never reported
};

/// Result of one evaluation: success flag and up to two texts in reporting order.
struct SStatusResult
{
    bool bSuccess = false;
    std::vector<int> vecTextIds;
};

/// True for 0x9000, 0x9001, 0x9002, 0x9003 and 0x900F.
bool IsSuccessStatus(uint16_t nStatusWord);
/// Status word of a response body (last two bytes); 0 when fewer than 2 bytes.
uint16_t StatusWordOf(const uint8_t* pBody, size_t nLength);
/// Evaluates a status word for a kind of command. A status word without a row reports
/// nothing; success follows IsSuccessStatus only.
SStatusResult EvaluateStatus(ECommandKind eKind, uint16_t nStatusWord);
} // namespace sicct
