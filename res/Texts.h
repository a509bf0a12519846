#pragma once
#include <string>
#include <string_view>

/// The string table: every user-visible text of the program by its number, compiled in
/// once (UTF-8, verbatim). Both front ends and the tests look texts up here.
namespace texts
{
/// The text with this number, or an empty view when the table has none.
std::string_view Get(int nId);
/// Whether the table has a text with this number.
bool Has(int nId);
/// The text with "%s" / "%d" style arguments filled in by snprintf rules (one string argument).
std::string Format(int nId, const std::string& strArg);
} // namespace texts
