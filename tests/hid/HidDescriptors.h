#pragma once
// Report descriptors used by the HID tests, written out byte by byte as a device sends them.
#include <cstdint>
#include <vector>

namespace hidtest
{
/// The vendor-defined collection of the keyboards' card terminal: usage page nPage, 63
/// data bytes per input and output report (64 with the report ID byte). With bNumbered
/// the reports carry IDs 1 and 2 (the unit byte doubles as the report ID).
inline std::vector<uint8_t> VendorDescriptor(uint16_t nPage, bool bNumbered)
{
    std::vector<uint8_t> vec = {
        0x06, static_cast<uint8_t>(nPage), static_cast<uint8_t>(nPage >> 8),  // Usage Page (vendor)
        0x09, 0x01,                                                           // Usage (0x01)
        0xA1, 0x01,                                                           // Collection (Application)
    };
    auto AddReports = [&](uint8_t nId, uint8_t nUsageIn, uint8_t nUsageOut) {
        if (bNumbered)
            vec.insert(vec.end(), {0x85, nId});                               //   Report ID
        vec.insert(vec.end(), {
            0x15, 0x00,                                                       //   Logical Minimum (0)
            0x26, 0xFF, 0x00,                                                 //   Logical Maximum (255)
            0x75, 0x08,                                                       //   Report Size (8)
            0x95, 0x3F,                                                       //   Report Count (63)
            0x09, nUsageIn,                                                   //   Usage
            0x81, 0x02,                                                       //   Input (Data,Var,Abs)
            0x09, nUsageOut,                                                  //   Usage
            0x91, 0x02,                                                       //   Output (Data,Var,Abs)
        });
    };
    AddReports(1, 0x02, 0x03);
    if (bNumbered)
        AddReports(2, 0x04, 0x05);
    vec.push_back(0xC0);                                                      // End Collection
    return vec;
}

/// A standard boot keyboard (usage page 1, usage 6): 8 modifier bits, a reserved byte,
/// 5 LED bits plus 3 padding bits, six key codes as an array.
inline std::vector<uint8_t> BootKeyboardDescriptor()
{
    return {
        0x05, 0x01,  // Usage Page (Generic Desktop)
        0x09, 0x06,  // Usage (Keyboard)
        0xA1, 0x01,  // Collection (Application)
        0x05, 0x07,  //   Usage Page (Key Codes)
        0x19, 0xE0,  //   Usage Minimum (224)
        0x29, 0xE7,  //   Usage Maximum (231)
        0x15, 0x00,  //   Logical Minimum (0)
        0x25, 0x01,  //   Logical Maximum (1)
        0x75, 0x01,  //   Report Size (1)
        0x95, 0x08,  //   Report Count (8)
        0x81, 0x02,  //   Input (Data, Variable, Absolute): modifier byte
        0x95, 0x01,  //   Report Count (1)
        0x75, 0x08,  //   Report Size (8)
        0x81, 0x01,  //   Input (Constant): reserved byte
        0x95, 0x05,  //   Report Count (5)
        0x75, 0x01,  //   Report Size (1)
        0x05, 0x08,  //   Usage Page (LEDs)
        0x19, 0x01,  //   Usage Minimum (1)
        0x29, 0x05,  //   Usage Maximum (5)
        0x91, 0x02,  //   Output (Data, Variable, Absolute): LED report
        0x95, 0x01,  //   Report Count (1)
        0x75, 0x03,  //   Report Size (3)
        0x91, 0x01,  //   Output (Constant): LED padding
        0x95, 0x06,  //   Report Count (6)
        0x75, 0x08,  //   Report Size (8)
        0x15, 0x00,  //   Logical Minimum (0)
        0x25, 0x65,  //   Logical Maximum (101)
        0x05, 0x07,  //   Usage Page (Key Codes)
        0x19, 0x00,  //   Usage Minimum (0)
        0x29, 0x65,  //   Usage Maximum (101)
        0x81, 0x00,  //   Input (Data, Array): key codes
        0xC0,        // End Collection
    };
}
} // namespace hidtest
