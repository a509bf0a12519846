#include "FormatArg.h"

namespace texts
{
namespace
{
// Mask of the low nBytes bytes; 8 bytes and anything out of range keep all 64 bits.
uint64_t WidthMask(int nBytes)
{
    return (nBytes >= 1 && nBytes < 8) ? ((uint64_t{1} << (8 * nBytes)) - 1) : ~uint64_t{0};
}
} // namespace

CFormatArg::CFormatArg(const char* psz)
    : m_eKind(EKind::Text), m_strText(psz ? std::string_view(psz) : std::string_view("(null)"))
{
}

int64_t CFormatArg::AsSigned() const
{
    switch (m_eKind)
    {
    case EKind::Signed:
        return m_nSigned;
    case EKind::Unsigned:
    {
        // Reinterpret in the original width: a 32-bit 0xFFFFFFFF reads as -1, as printf's "%d" would.
        const uint64_t uMasked = m_uUnsigned & WidthMask(m_nBytes);
        if (m_nBytes >= 1 && m_nBytes < 8 && (uMasked >> (8 * m_nBytes - 1)) != 0)
            return static_cast<int64_t>(uMasked | ~WidthMask(m_nBytes));
        return static_cast<int64_t>(uMasked);
    }
    default:
        return 0;
    }
}

uint64_t CFormatArg::AsUnsigned() const
{
    switch (m_eKind)
    {
    case EKind::Signed:
        return static_cast<uint64_t>(m_nSigned) & WidthMask(m_nBytes);
    case EKind::Unsigned:
        return m_uUnsigned;
    default:
        return 0;
    }
}

double CFormatArg::AsDouble() const
{
    switch (m_eKind)
    {
    case EKind::Floating:
        return m_dValue;
    case EKind::Signed:
        return static_cast<double>(m_nSigned);
    case EKind::Unsigned:
        return static_cast<double>(m_uUnsigned);
    default:
        return 0.0;
    }
}

const void* CFormatArg::AsPointer() const
{
    if (m_eKind == EKind::Text)
        return m_strText.data();
    return m_pValue;
}
} // namespace texts
