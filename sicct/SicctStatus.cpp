#include "SicctStatus.h"

#include <array>
#include <span>

namespace sicct
{
namespace
{
struct SRow
{
    uint16_t nSw;   // SW1 << 8 | SW2
    int nText1;
    int nText2;     // 0: none
};

// Rows that apply to every command; they win over the command tables.
constexpr std::array<SRow, 9> kCommon = {{
    {0x6700, 6017, 0},
    {0x6941, 6019, 0},
    {0x6A00, 6020, 0},
    {0x6A80, 6021, 0},
    {0x6A88, 6022, 0},
    {0x6C00, 6023, 0},
    {0x6D00, 6024, 0},
    {0x6E00, 6025, 0},
    {0x6F00, 6026, 0},
}};

constexpr std::array<SRow, 3> kCardResetOrCertificate = {{
    {0x6400, 6029, 0},
    {0x6900, 6018, 0},
    {0x9000, 6028, 0},
}};

constexpr std::array<SRow, 3> kStatusQuery = {{
    {0x6400, 6030, 0},
    {0x64A1, 6031, 0},
    {0x6900, 6032, 0},
}};

constexpr std::array<SRow, 6> kSessionOpen = {{
    {0x6200, 6000, 0},
    {0x6400, 6001, 0},
    {0x6401, 143, 0},
    {0x6402, 144, 0},
    {0x6900, 6002, 0},
    {0x9000, 6003, 0},
}};

constexpr std::array<SRow, 5> kSessionClose = {{
    {0x6200, 6004, 0},
    {0x6400, 6005, 0},
    {0x6403, 6006, 0},
    {0x6900, 6007, 0},
    {0x9000, 6008, 0},
}};

constexpr std::array<SRow, 4> kDownloadInit = {{
    {0x6400, 6009, 0},
    {0x6501, 6010, 0},
    {0x6900, 6002, 0},  // the session-open text, as terminals' users know it
    {0x9000, 6016, 0},
}};

constexpr std::array<SRow, 3> kDownloadData = {{
    {0x6400, 6009, 0},
    {0x6501, 6010, 0},
    {0x6900, 6012, 0},
}};

constexpr std::array<SRow, 4> kDownloadFinish = {{
    {0x6400, 140, 0},
    {0x6501, 6010, 0},
    {0x6900, 6012, 0},
    {0x9000, 6014, 139},
}};

std::span<const SRow> TableOf(ECommandKind eKind)
{
    switch (eKind)
    {
    case ECommandKind::CardResetOrCertificate: return kCardResetOrCertificate;
    case ECommandKind::StatusQuery: return kStatusQuery;
    case ECommandKind::SessionOpen: return kSessionOpen;
    case ECommandKind::SessionClose: return kSessionClose;
    case ECommandKind::DownloadInit: return kDownloadInit;
    case ECommandKind::DownloadData: return kDownloadData;
    case ECommandKind::DownloadFinish: return kDownloadFinish;
    case ECommandKind::NoTexts: break;
    }
    return {};
}

const SRow* Find(std::span<const SRow> table, uint16_t nSw)
{
    for (const auto& row : table)
        if (row.nSw == nSw)
            return &row;
    return nullptr;
}
} // namespace

bool IsSuccessStatus(uint16_t nStatusWord)
{
    switch (nStatusWord)
    {
    case 0x9000:
    case 0x9001:
    case 0x9002:
    case 0x9003:
    case 0x900F:
        return true;
    default:
        return false;
    }
}

uint16_t StatusWordOf(const uint8_t* pBody, size_t nLength)
{
    if (pBody == nullptr || nLength < 2)
        return 0;
    return static_cast<uint16_t>((pBody[nLength - 2] << 8) | pBody[nLength - 1]);
}

SStatusResult EvaluateStatus(ECommandKind eKind, uint16_t nStatusWord)
{
    SStatusResult result;
    result.bSuccess = IsSuccessStatus(nStatusWord);
    if (eKind == ECommandKind::NoTexts)
        return result;
    const SRow* pRow = Find(kCommon, nStatusWord);
    if (pRow == nullptr)
        pRow = Find(TableOf(eKind), nStatusWord);
    if (pRow != nullptr)
    {
        result.vecTextIds.push_back(pRow->nText1);
        if (pRow->nText2 != 0)
            result.vecTextIds.push_back(pRow->nText2);
    }
    return result;
}
} // namespace sicct
