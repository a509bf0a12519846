#include "SimTypes.h"

namespace sim
{
bool TransportFromProtocolCode(int nCode, ETransport& eOut)
{
    switch (nCode)
    {
    case 0x00:
        eOut = ETransport::Plain;
        return true;
    case 0x10:
    case 0x11:
        eOut = ETransport::Tls10;
        return true;
    case 0x20:
        eOut = ETransport::Tls11;
        return true;
    case 0x30:
        eOut = ETransport::Tls12;
        return true;
    default:
        return false;
    }
}

TerminalConfig MakeDemoTerminal()
{
    TerminalConfig c;
    c.strName = "SIM-ST1500";
    c.strMac = "02:00:5E:10:00:01";
    c.nSicctVersion = 0x0114;
    UnitConfig display;
    display.nType = 0x40;
    display.nNumber = 0x01;
    display.strName = "Display";
    display.vecCharsets = {0, 15, 32};
    UnitConfig keypad;
    keypad.nType = 0x50;
    keypad.nNumber = 0x01;
    keypad.strName = "PIN-Pad";
    UnitConfig slot1;
    slot1.nType = 0x01;
    slot1.nNumber = 0x01;
    slot1.strName = "Kartenslot 1";
    slot1.bCardPresent = true;
    slot1.vecAtr = {0x3B, 0xD3, 0x96, 0xFF, 0x81, 0xB1, 0xFE, 0x45, 0x1F, 0x07, 0x80, 0x81, 0x05, 0x2D};
    UnitConfig slot2 = slot1;
    slot2.nNumber = 0x02;
    slot2.strName = "Kartenslot 2";
    slot2.bCardPresent = false;
    slot2.vecAtr.clear();
    c.vecUnits = {slot1, slot2, display, keypad};
    return c;
}
} // namespace sim
