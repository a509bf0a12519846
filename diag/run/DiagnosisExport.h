#pragma once
#include <cstdint>
#include <string>

#include "DiagnosisResult.h"
#include "TerminalIdRecord.h"

/// The five settings the export file lists (section "SICCT-Config", 0 = missing).
struct SExportSettings
{
    uint32_t nPort = 0;
    uint32_t nProtocolId = 0;
    uint32_t nMaxDataPacketSize = 0;
    uint32_t nShowBroadcastAdressField = 0;
    uint32_t nAllManufacturer = 0;

    /// From any settings object with these accessors (CSettings).
    template <typename TSettings>
    static SExportSettings From(const TSettings& settings)
    {
        return SExportSettings{settings.Port(), settings.ProtocolId(), settings.MaxDataPacketSize(),
                               settings.ShowBroadcastAdressField(), settings.AllManufacturer()};
    }
};

/// What one export file is made from.
struct SExportInput
{
    TerminalIdRecord record;      // name, address, MAC, protocol code, port
    uint16_t nSicctVersion = 0;   // as the diagnosis holds it (1.00 already taken as 1.03)
    SDiagnosisResult result;
    SExportSettings settings;
};

/// CDiagnosisExport: writes the diagnosis export file (XML declared as ISO-8859-1): the
/// terminal, its function units with their display, keypad or card-slot blocks, and the
/// non-zero settings, line by line with tab indents and CR LF line ends. Texts are escaped
/// (& < > ") so that the file stays well-formed; terminal texts are written as the bytes the
/// terminal sent, our own texts converted to ISO-8859-1. Stateless; any thread.
class CDiagnosisExport
{
public:
    /// The whole file as bytes.
    static std::string ToString(const SExportInput& input);
    /// Writes the file (replacing it). 0 success, -1 cannot be opened, -2 write failed
    /// (a partly written file is removed).
    static int WriteFile(const std::string& strPath, const SExportInput& input);

    /// Security protocol text of a protocol code ("Unverschluesselt", "TLS 1.0", ...).
    static const char* ProtocolText(uint8_t nCode);
    /// Escapes & < > " for element texts and attribute values; other bytes unchanged.
    static std::string Escape(const std::string& strText);
};
