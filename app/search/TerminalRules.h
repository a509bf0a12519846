#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "MiddlewareCodes.h"

/// The main window's display and derivation rules, kept free of any GUI so that the
/// command-line tool shows and derives exactly what the window does. Pure functions, any thread.
namespace search
{
// Connection type codes of a terminal description: the middleware's own.
using mw::CONN_HID_SECURE;
using mw::CONN_HID_UNSECURE;
using mw::CONN_LAN;
using mw::CONN_LAN2CTVNT;
using mw::CONN_PCSC;
using mw::CONN_SERIAL;
using mw::CONN_UNKNOWN;
using mw::CONN_USB;

/// MAC prefix of the maker's own network terminals; any other MAC on a LAN row is a proxy.
inline constexpr const char* kMakerMacPrefix = "02:4E:7A";

/// The web-interface port used when neither the edit nor the setting gives one.
inline constexpr uint16_t kDefaultWebPort = 443;

/// Label of the "Typ" column: "USB", "Seriell", "LAN", "LAN-Proxy", "PC/SC" or "Unbekannt".
/// A LAN row is "LAN" only when the MAC text starts with the maker's prefix.
std::string ConnectionTypeLabel(int nConnectionType, const std::string& strMac);

/// "Port" column: the configured port in decimal, empty when 0.
std::string PortColumnText(uint16_t nPort);

/// "SICCT-Version" column: "%d.%d" from the high and low byte.
std::string SicctVersionText(uint16_t nVersion);

/// Address of a terminal's web interface: 443 gives "https://ip/", 8080 "http://ip/",
/// any other port "https://ip:port/". Empty when the address is empty or the port is 0.
std::string WebInterfaceUrl(const std::string& strIp, uint16_t nPort);

/// The web-interface port from the port edit's text. An empty text falls back to the setting
/// "Port" (nSettingPort, already defaulted to 443 by the caller), low 16 bits. Otherwise the
/// text must be an unsigned decimal number of at most 65535; anything else gives 0 (invalid).
uint16_t WebInterfacePortFromText(const std::string& strEdit, uint32_t nSettingPort);

/// Text shown in the port edit at start: the setting when it lies in 1..65535, else 443.
uint16_t InitialWebInterfacePort(uint32_t nSettingPort);

/// Protocol code for the download dialogs: the decimal number made of at most two characters
/// after the last ':' of the connection string; 0 without ':' or without digits.
int ProtocolCodeFromLogicalName(const std::string& strLogicalName);

/// Network port and protocol code of a connection string "address:port:code" for the
/// diagnosis record: port between the first and the second ':', code after the second;
/// each 0 when absent or not a number of its range.
void SplitLogicalName(const std::string& strLogicalName, uint16_t& nPort, uint8_t& nProtocol);

/// Dotted IPv4 text into four bytes, first field first. False (bytes zero) unless the text is
/// four decimal fields of 0..255 starting with a non-zero number.
bool ParseIpv4(const std::string& strIp, std::array<uint8_t, 4>& abIp);

/// MAC text "AA:BB:CC:DD:EE:FF" into six bytes. False (bytes zero) unless it is six
/// hexadecimal fields of one or two digits.
bool ParseMac(const std::string& strMac, std::array<uint8_t, 6>& abMac);

/// IPv4 number (first field in the most significant byte) as dotted text.
std::string Ipv4ToText(uint32_t nAddress);
} // namespace search
