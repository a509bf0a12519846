#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

/// What the HID transport needs to know about a device's reports: the usage of its
/// top-level collection and the lengths of its reports, the same figures the system's
/// capability query gives on other platforms.
struct HidCaps
{
    uint16_t nUsage = 0;
    uint16_t nUsagePage = 0;                 // of the first top-level collection
    /// Longest report of each kind in bytes, counting the leading report ID byte (which a
    /// device without numbered reports transfers as 0x00); 0 when the kind is absent.
    uint16_t nInputReportByteLength = 0;
    uint16_t nOutputReportByteLength = 0;
    uint16_t nFeatureReportByteLength = 0;
    std::vector<uint8_t> vecReportIds;       // IDs used, ascending; empty: reports unnumbered
    bool bHasValueCaps = false;              // an input item carries a multi-bit value
    uint8_t nValueCapsReportId = 0;          // report ID of the first such item (0: none)
};

/// Parser of HID report descriptors (device class definition 1.11, section 6.2.2): short
/// and long items, global state with push and pop, nested collections.
///
/// The descriptor comes from the device and is treated as untrusted: every item is
/// bounds-checked, nesting and the push stack are limited and report lengths must fit 16
/// bits. Only the first top-level collection is described, as a system gives one device
/// interface per top-level collection. Stateless; any thread.
class CHidReportDescriptor
{
public:
    enum Result : int
    {
        DESC_OK = 0,
        DESC_TRUNCATED = -1,      // an item's data runs past the end
        DESC_BAD_ITEM = -2,       // report ID 0, pop without push, unmatched end collection, ...
        DESC_TOO_DEEP = -3,       // collections or pushes nested beyond the limit
        DESC_TOO_LONG = -4,       // a report longer than 65534 bytes
        DESC_NO_COLLECTION = -5,  // no top-level collection
        DESC_UNBALANCED = -6,     // a collection left open at the end
    };

    static constexpr int kMaxCollectionDepth = 32;
    static constexpr int kMaxPushDepth = 16;

    /// Parses nLength bytes at pData into caps (reset first). DESC_OK or one of the errors
    /// above; on error caps holds what was parsed up to the fault and must not be used.
    [[nodiscard]] static int Parse(const uint8_t* pData, size_t nLength, HidCaps& caps);
    [[nodiscard]] static int Parse(const std::vector<uint8_t>& vecData, HidCaps& caps)
    {
        return Parse(vecData.data(), vecData.size(), caps);
    }
};
