#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

/// The 72-byte terminal identification record that the main window hands to the diagnosis
/// dialog. It has the shape of a SICCT service discovery answer (tag, length, value):
///
///   offset bytes content
///    0     1     0x80 tag version        1  1  0x02   2  2  SICCT version, little-endian
///    4     1     0x81 tag IPv4 address   5  1  0x04   6  4  address, first field first
///   10     1     0x83 tag MAC address   11  1  0x06  12  6  MAC bytes
///   18     1     0x84 tag name          19  1  length 20 32  name, zero-padded
///   52     1     0x82 tag port          53  1  0x02  54  2  port, little-endian
///   56     1     protocol code (16, 17, 32 or 48)   57 15  zero
///
/// A plain value type; copied by value into the dialog.
struct TerminalIdRecord
{
    static constexpr size_t kSize = 72;
    static constexpr size_t kOffVersion = 2;
    static constexpr size_t kOffIp = 6;
    static constexpr size_t kOffMac = 12;
    static constexpr size_t kOffNameLength = 19;
    static constexpr size_t kOffName = 20;
    static constexpr size_t kMaxName = 32;
    static constexpr size_t kOffPort = 54;
    static constexpr size_t kOffProtocol = 56;

    std::array<uint8_t, kSize> abData{};

    /// Builds the record from a terminal's fields. The name is cut to 32 bytes; the address
    /// bytes stay zero unless the text is a valid dotted address starting with a non-zero
    /// field; the MAC bytes stay zero unless the text is six hexadecimal fields.
    static TerminalIdRecord Build(uint16_t nSicctVersion, const std::string& strName, const std::string& strIp,
                                  const std::string& strMac, uint16_t nPort, uint8_t nProtocol);

    uint16_t Version() const { return static_cast<uint16_t>(abData[kOffVersion] | (abData[kOffVersion + 1] << 8)); }
    uint16_t Port() const { return static_cast<uint16_t>(abData[kOffPort] | (abData[kOffPort + 1] << 8)); }
    uint8_t Protocol() const { return abData[kOffProtocol]; }
    std::string Name() const;
};

static_assert(sizeof(TerminalIdRecord) == TerminalIdRecord::kSize, "record must stay 72 bytes");
static_assert(TerminalIdRecord::kOffName + TerminalIdRecord::kMaxName == 52, "port tag follows the name");
