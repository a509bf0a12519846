#pragma once
#include <array>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FormatArg.h"

/// The string table: every user-visible text of the program by its number, compiled in
/// once (UTF-8, verbatim). Both front ends and the tests look texts up here. The table is
/// constant data: every operation is safe to call from any thread at any time.
///
/// The texts carry printf conversions ("%s", "%d", "%x", "%02X", "%.2x", "%hu" ...). Fill them
/// only through the operations below: each conversion is checked against the kind of its
/// argument, so a wrong argument gives a visible placeholder and a code, never undefined
/// behaviour, and "%n" is never executed.
namespace texts
{
/// Codes of `FormatInto` and `TryFormat`. The output is produced in every case; a code other than
/// FORMAT_OK names the first problem met.
enum EFormatCode
{
    FORMAT_OK = 0,               ///< every conversion got an argument of its kind, none left over
    FORMAT_KIND_MISMATCH = -1,   ///< an argument of the wrong kind: the conversion is copied as written
    FORMAT_MISSING_ARGUMENT = -2, ///< fewer arguments than conversions: the rest are copied as written
    FORMAT_EXTRA_ARGUMENTS = -3, ///< more arguments than conversions: the extra ones are ignored
    FORMAT_BAD_CONVERSION = -4   ///< an incomplete or unsupported conversion ("%n", "%y", a lone "%"):
                                 ///< copied as written
};

/// The text with this number, or an empty view when the table has none.
std::string_view Get(int nId);
/// Whether the table has a text with this number.
bool Has(int nId);
/// All numbers of the table in ascending order (for checks and listings).
std::vector<int> Ids();

/// The caption (nControlId 0) or the text of a numbered control of a dialog template, such as
/// (102, 1001) "&Suchen" or (139, 0) "Firmware Download"; '&' marks the access key (Qt uses the
/// same mark). An empty view when the table has none. Kept apart from the string table because
/// dialog and control numbers are a namespace of their own (dialog 100 is not string 100).
std::string_view ControlText(int nDialogId, int nControlId);
/// All (dialog, control) keys of that table in ascending order.
std::vector<std::pair<int, int>> ControlKeys();

/// Fills the conversions of strPattern from spanArgs by printf rules into strOut (replaced).
/// Supported: flags "-+ #0", width and precision (digits or '*', which takes an integer
/// argument; both are clamped to 1024), length modifiers hh h l ll j z t L (hh and h narrow the
/// value as printf does, the others are accepted and the argument's own width is used), and the
/// conversions d i u o x X c (integer arguments), f F e E g G a A (floating or integer),
/// s (text), p (pointer or text), %% (a percent sign). Returns an EFormatCode.
[[nodiscard]] int FormatInto(std::string& strOut, std::string_view strPattern, std::span<const CFormatArg> spanArgs);

/// FormatInto for a pattern that is not in the table (such as "CT Firmware Version: %s");
/// problems are not reported, the output shows them as described above.
template <typename... TArgs>
std::string FormatPattern(std::string_view strPattern, const TArgs&... args)
{
    const std::array<CFormatArg, sizeof...(TArgs)> aArgs{CFormatArg(args)...};
    std::string strOut;
    (void)FormatInto(strOut, strPattern, std::span<const CFormatArg>(aArgs));
    return strOut;
}

/// The text with this number with its conversions filled from args (any mix of numbers, texts
/// and pointers, checked per conversion as in FormatInto). An unknown number gives "".
template <typename... TArgs>
std::string Format(int nId, const TArgs&... args)
{
    return FormatPattern(Get(nId), args...);
}

/// The text with this number with its conversions filled by one text argument (the common case
/// of a report with a path or a unit identifier; reports travel with one text). Same checks as
/// above, with one allowance: when a conversion wants a number and strArg is a whole decimal
/// number ("10054", "-1"), that number fills it, so Format(125, "10054") gives
/// "WSA Error: 0x2746". Any other text leaves such a conversion as written.
std::string Format(int nId, const std::string& strArg);

/// As Format, but reports whether the arguments matched: returns an EFormatCode and puts the
/// result into strOut. An unknown number gives FORMAT_OK and an empty text only when no argument
/// is given, else FORMAT_EXTRA_ARGUMENTS.
template <typename... TArgs>
[[nodiscard]] int TryFormat(std::string& strOut, int nId, const TArgs&... args)
{
    const std::array<CFormatArg, sizeof...(TArgs)> aArgs{CFormatArg(args)...};
    return FormatInto(strOut, Get(nId), std::span<const CFormatArg>(aArgs));
}
} // namespace texts
