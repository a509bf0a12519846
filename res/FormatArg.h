#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace texts
{
/// One argument for the printf-style texts of the string table, with its kind recorded so that
/// the formatter can check it against the conversion it fills ("%d" wants a number, "%s" a text).
/// A value type; a text argument is a view, so the text must outlive the format call (it always
/// does when the argument is built inside the call, as `texts::Format(id, args...)` does).
/// Safe to use from any thread; it holds no shared state.
class CFormatArg
{
public:
    enum class EKind
    {
        Signed,   ///< any signed integer, char, bool or signed enum
        Unsigned, ///< any unsigned integer or unsigned enum
        Floating, ///< float, double, long double (kept as double)
        Text,     ///< const char* (null reads as "(null)"), std::string, std::string_view
        Pointer   ///< any other object pointer, or nullptr
    };

    /// Integers, bool and enums; the width of the original type is kept so that "%x" of a negative
    /// int prints 8 hexadecimal digits, as printf would with the matching length modifier.
    template <typename T>
        requires(std::is_integral_v<T> || std::is_enum_v<T>)
    CFormatArg(T value) // NOLINT(google-explicit-constructor): arguments convert implicitly
    {
        using TInt =
            typename std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>, std::type_identity<T>>::type;
        const auto nValue = static_cast<TInt>(value);
        m_nBytes = static_cast<int>(sizeof(TInt));
        if constexpr (std::is_signed_v<TInt>)
        {
            m_eKind = EKind::Signed;
            m_nSigned = static_cast<int64_t>(nValue);
        }
        else
        {
            m_eKind = EKind::Unsigned;
            m_uUnsigned = static_cast<uint64_t>(nValue);
        }
    }

    template <typename T>
        requires std::is_floating_point_v<T>
    CFormatArg(T value) : m_eKind(EKind::Floating), m_dValue(static_cast<double>(value)), m_nBytes(sizeof(double))
    {
    }

    CFormatArg(const char* psz);
    CFormatArg(const std::string& str) : CFormatArg(std::string_view(str)) {}
    CFormatArg(std::string_view str) : m_eKind(EKind::Text), m_strText(str) {}
    CFormatArg(const void* p) : m_eKind(EKind::Pointer), m_pValue(p), m_nBytes(sizeof(void*)) {}
    CFormatArg(std::nullptr_t) : CFormatArg(static_cast<const void*>(nullptr)) {}

    EKind Kind() const { return m_eKind; }
    /// The value as a signed number, read in the width of the original type (an unsigned value of
    /// that width wraps to negative like printf's "%d" does); 0 for texts and floating values.
    int64_t AsSigned() const;
    /// The value as an unsigned number of the original width (two's complement for negatives).
    uint64_t AsUnsigned() const;
    /// The value as double: floating values as they are, integers converted.
    double AsDouble() const;
    std::string_view AsText() const { return m_strText; }
    /// The pointer value; for a text argument the address of its first character.
    const void* AsPointer() const;
    bool IsInteger() const { return m_eKind == EKind::Signed || m_eKind == EKind::Unsigned; }

private:
    EKind m_eKind = EKind::Signed;
    int64_t m_nSigned = 0;
    uint64_t m_uUnsigned = 0;
    double m_dValue = 0.0;
    std::string_view m_strText;
    const void* m_pValue = nullptr;
    int m_nBytes = 0; ///< size of the original integer type, 1..8
};
} // namespace texts
