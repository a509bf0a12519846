#pragma once
#include "BCSData.h"

/// A response from a card terminal or card: response bytes ending in the status word
/// SW1 SW2. Prepared for receiving, its length is the buffer's capacity; after execution
/// it is the number of bytes received. Buffer ownership and threading as for CBCSData.
class CBCSResponse : public CBCSData
{
public:
    /// SW1 * 256 + SW2 from the last two bytes, or bcs::SW_NONE when there are fewer than two
    /// bytes (or no buffer). With a status word, writes the length, SW1 and SW2 to the trace
    /// (level 4, "CtApi") first.
    uint16_t GetStatusWord() const;
};
