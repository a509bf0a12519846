#pragma once
#include "BCSData.h"

/// A command for a card terminal or card: a command APDU (CLA INS P1 P2, then length and
/// data; CLA 0x20 for CT-BCS commands) with its address bytes. Adds nothing but its type;
/// buffer ownership and threading as for CBCSData.
class CBCSCommand : public CBCSData
{
};
