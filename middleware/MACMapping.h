#pragma once
#include <memory>
#include <string>

namespace tinyxml2
{
class XMLDocument;
}

/// The client-to-terminal mapping file "ClientTerminalMapping.xml": `TerminalMap` elements
/// whose attributes assign a terminal (MAC, IP) to a thin client (MAC, name, IP). The LAN
/// search takes the terminal addresses from it for terminals a broadcast does not reach.
/// One object per use, on one thread; the file is read by Load().
class CMACMapping
{
public:
    /// Uses the given file, or when empty the configured "MacMappingFilePath", else
    /// Common AppData + "/Vantor/CtApi/ClientTerminalMapping.xml".
    explicit CMACMapping(std::string strPath = {});
    ~CMACMapping();

    static std::string DefaultPath();
    const std::string& GetPath() const { return m_strPath; }

    /// Reads the file; false (logged "Error: %s") when it is missing or malformed.
    bool Load();
    /// Takes the mapping from a text instead of the file (a copy of the file already read,
    /// or a test's input); false when it is no well-formed XML.
    bool LoadText(const std::string& strXml);
    /// Appends "address;" (lower-cased) for every TerminalMap with a non-empty "TerminalIP".
    /// Loads the file first when needed; false and nothing appended when it cannot be read.
    bool AppendTerminalAddresses(std::string& strTargets);

    // Lookups: the key is compared lower-cased with the lower-cased attribute. A terminal
    // MAC is only returned when the vendor filter lets it pass and it fits 17 characters;
    // an IP must fit 15. False when nothing matches.
    /// By "ThinClientMAC": "TerminalMAC", failing that "TerminalIP".
    bool TerminalForClientMac(const std::string& strClientMac, std::string& strResult);
    /// By "ThinClientName": "TerminalMAC", failing that "TerminalIP".
    bool TerminalForClientName(const std::string& strClientName, std::string& strResult);
    /// By "TerminalMAC": "TerminalIP".
    bool TerminalIpForTerminalMac(const std::string& strTerminalMac, std::string& strResult);
    /// By "ThinClientIP": "TerminalMAC".
    bool TerminalMacForClientIp(const std::string& strClientIp, std::string& strResult);

private:
    bool Lookup(const char* pszKeyAttribute, const std::string& strKey, bool bMacFirst, bool bIpAllowed,
                std::string& strResult);

    std::string m_strPath;
    std::unique_ptr<tinyxml2::XMLDocument> m_pDoc;
    bool m_bLoaded = false;
};
