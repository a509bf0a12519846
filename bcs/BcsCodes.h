#pragma once
#include <cstdint>

/// Result bytes and special values of the command and response objects.
namespace bcs
{
constexpr uint8_t BCS_OK = 0x00;           // SetData took the values over
constexpr uint8_t BCS_ERR_PARAM = 0xFF;    // a pointer was missing or the length was 0; nothing changed

constexpr uint16_t SW_NONE = 0xFFFF;       // GetStatusWord: fewer than two bytes, no status word

/// Address bytes (CT-API conventions).
constexpr uint8_t ADDR_CARD = 0;           // the card in the terminal
constexpr uint8_t ADDR_TERMINAL = 1;       // the card terminal
constexpr uint8_t ADDR_HOST = 2;           // the host
} // namespace bcs
