#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "VersionRecord.h"

/// The version record of a program or library file and texts filled from it: a text with
/// printf-style conversions gets one named version value ("ProductName", "FileVersion", ...)
/// per conversion, so that names and versions shown to the user come from the file itself.
///
/// The reader is not owned and must outlive this object. One object is used by one thread at
/// a time; the record is a private copy, so separate objects may be used concurrently.
class CVersionInfo
{
public:
    explicit CVersionInfo(os::CVersionReader& reader);
    virtual ~CVersionInfo();

    /// Drops the previous record and reads the file's. True only when the record has its fixed
    /// part and at least one translation; otherwise nothing stays loaded. The current
    /// translation becomes 0.
    virtual bool LoadFromFile(const std::string& strPath);
    /// LoadFromFile with the file of a loaded module: null = the running program, else a
    /// native library handle (os::CLibrary::NativeHandle). False when its path is unknown.
    virtual bool LoadFromModule(void* hModule = nullptr);

    bool IsLoaded() const { return m_bLoaded; }
    /// The fixed numeric part, or null when nothing is loaded.
    const os::SFixedFileInfo* FixedFileInfo() const { return m_bLoaded ? &m_record.fixed : nullptr; }
    size_t TranslationCount() const { return m_bLoaded ? m_record.vecTranslations.size() : 0; }
    /// Selects the translation used by index -1. False (unchanged) when out of range.
    bool SetCurrentTranslation(size_t nIndex);

    /// Copies the named value of a translation (-1: the current one) into pOut, cut to
    /// nSize - 1 bytes and terminated. False when nothing is loaded, the index is out of range,
    /// the value is missing or the buffer has no room at all.
    bool GetValue(char* pOut, size_t nSize, const char* pszName, int nTranslation = -1) const;

    /// Treats the buffer's text as a format and replaces it by the result: the k-th conversion
    /// gets the k-th value (at most 127 characters, empty when missing). Every conversion
    /// formats its value as text (flags '-', width and precision are honoured), so a format
    /// with %d or %n cannot misread anything. "%%" before a later conversion becomes "%"; after
    /// the last conversion the rest is copied as it stands. False, with the buffer unchanged,
    /// when nothing is loaded or the result does not fit into nSize bytes with its terminator.
    bool FormatText(char* pBuffer, size_t nSize, int nTranslation, const std::vector<std::string>& vecNames) const;
    /// The same on the text of a window, given as strText: the working buffer starts at the
    /// text's length (at least 128 bytes) and grows by 128 bytes until the result fits, so no
    /// length limit applies. False when the text is empty or nothing is loaded.
    bool FormatWindowText(std::string& strText, int nTranslation, const std::vector<std::string>& vecNames) const;

    /// The longest value a conversion receives.
    static constexpr size_t kMaxValueChars = 127;

private:
    enum class EFormat
    {
        Ok,
        TooSmall,
        Failed,
    };
    EFormat Format(const std::string& strFormat, size_t nSize, int nTranslation,
                   const std::vector<std::string>& vecNames, std::string& strOut) const;

    os::CVersionReader& m_reader;
    os::SVersionRecord m_record;
    bool m_bLoaded = false;
    size_t m_nCurrentTranslation = 0;
};
