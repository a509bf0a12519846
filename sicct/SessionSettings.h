#pragma once
#include <cstdint>

/// The two settings the session worker reads, fresh at each use ("Protocol-ID",
/// "MaxDataPacketSize" of section "SICCT-Config"; 0 = not set). Called on the worker thread.
/// The front ends adapt the program's CSettings with CSessionSettingsOf; tests pass a fake.
class CSessionSettings
{
public:
    virtual ~CSessionSettings() = default;
    virtual uint32_t ProtocolId() const = 0;
    virtual uint32_t MaxDataPacketSize() const = 0;
};

/// Adapter for any settings object with ProtocolId() and MaxDataPacketSize() (CSettings).
/// Does not own the object; it must outlive the adapter.
template <typename TSettings>
class CSessionSettingsOf final : public CSessionSettings
{
public:
    explicit CSessionSettingsOf(const TSettings& settings) : m_settings(settings) {}
    uint32_t ProtocolId() const override { return m_settings.ProtocolId(); }
    uint32_t MaxDataPacketSize() const override { return m_settings.MaxDataPacketSize(); }

private:
    const TSettings& m_settings;
};
