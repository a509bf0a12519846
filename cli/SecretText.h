#pragma once
#include <cstddef>
#include <string>

#include "SecureWipe.h"

/// CSecretText: a password held in one buffer that is reserved once (so no reallocation leaves
/// a copy behind) and overwritten with zeros when cleared or destroyed. Not copyable; the
/// text is handed on with Text() and the receiver clears its own copy (WipeString).
/// Threads: one owner.
class CSecretText
{
public:
    static constexpr size_t kMaxLength = 1023;

    CSecretText() { m_str.reserve(kMaxLength + 1); }
    ~CSecretText() { Clear(); }
    CSecretText(const CSecretText&) = delete;
    CSecretText& operator=(const CSecretText&) = delete;

    /// Appends one character; false (nothing appended) once kMaxLength is reached.
    bool Append(char c)
    {
        if (m_str.size() >= kMaxLength)
            return false;
        m_str.push_back(c);
        return true;
    }
    /// Removes a trailing carriage return (a line typed on Windows or sent by a script).
    void TrimLineEnd()
    {
        if (!m_str.empty() && m_str.back() == '\r')
        {
            m_str.back() = '\0';
            m_str.pop_back();
        }
    }
    const std::string& Text() const { return m_str; }
    bool Empty() const { return m_str.empty(); }
    void Clear() { WipeString(m_str); }

    /// Overwrites a string's characters with zeros and empties it.
    static void WipeString(std::string& str) { os::SecureWipe(str); }

private:
    std::string m_str;
};
