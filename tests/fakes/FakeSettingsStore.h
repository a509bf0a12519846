#pragma once
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "SettingsStore.h"

/// Test double of os::CSettingsStore: an in-memory registry with both roots and the real
/// store's rules (key and value names case-insensitive, exact sizes, REG_ERR_MORE_DATA with
/// the needed size). Tests put values in with the Put* helpers, may make every call fail
/// with a chosen code, and can count calls. Thread-safe.
class CFakeSettingsStore : public os::CSettingsStore
{
public:
    struct SValue
    {
        uint32_t nType = 0;
        std::vector<uint8_t> vecData;
    };

    long QueryValue(os::ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName, uint32_t& nType,
                    uint8_t* pData, uint32_t& nSize) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nQueries;
        if (m_nQueryError != os::REG_OK)
            return m_nQueryError;
        auto it = m_mapValues.find(Key(eRoot, strKeyPath, strName));
        if (it == m_mapValues.end())
            return os::REG_ERR_FILE_NOT_FOUND;
        const uint32_t nStored = static_cast<uint32_t>(it->second.vecData.size());
        nType = it->second.nType;
        if (pData == nullptr)
        {
            nSize = nStored;
            return os::REG_OK;
        }
        if (nStored > nSize)
        {
            nSize = nStored;
            return os::REG_ERR_MORE_DATA;
        }
        if (nStored)
            std::memcpy(pData, it->second.vecData.data(), nStored);
        nSize = nStored;
        return os::REG_OK;
    }

    long SetValue(os::ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName, uint32_t nType,
                  const uint8_t* pData, uint32_t nSize) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nWrites;
        if (m_nSetError != os::REG_OK)
            return m_nSetError;
        if (pData == nullptr && nSize > 0)
            return os::REG_ERR_INVALID_PARAMETER;
        SValue value;
        value.nType = nType;
        if (nSize)
            value.vecData.assign(pData, pData + nSize);
        m_mapValues[Key(eRoot, strKeyPath, strName)] = std::move(value);
        return os::REG_OK;
    }

    // --- test helpers --------------------------------------------------------------------
    void PutDword(os::ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName, uint32_t nValue)
    {
        const uint8_t a[4] = {static_cast<uint8_t>(nValue), static_cast<uint8_t>(nValue >> 8),
                              static_cast<uint8_t>(nValue >> 16), static_cast<uint8_t>(nValue >> 24)};
        PutRaw(eRoot, strKeyPath, strName, os::REG_TYPE_DWORD, std::vector<uint8_t>(a, a + 4));
    }
    /// A REG_SZ with or without its terminating zero.
    void PutString(os::ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName,
                   const std::string& strText, bool bTerminated = true)
    {
        std::vector<uint8_t> vec(strText.begin(), strText.end());
        if (bTerminated)
            vec.push_back(0);
        PutRaw(eRoot, strKeyPath, strName, os::REG_TYPE_SZ, vec);
    }
    void PutRaw(os::ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName, uint32_t nType,
                const std::vector<uint8_t>& vecData)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mapValues[Key(eRoot, strKeyPath, strName)] = SValue{nType, vecData};
    }
    bool Get(os::ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName, SValue& value) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_mapValues.find(Key(eRoot, strKeyPath, strName));
        if (it == m_mapValues.end())
            return false;
        value = it->second;
        return true;
    }
    void Remove(os::ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mapValues.erase(Key(eRoot, strKeyPath, strName));
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mapValues.clear();
        m_nQueryError = m_nSetError = os::REG_OK;
        m_nQueries = m_nWrites = 0;
    }
    size_t ValueCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_mapValues.size();
    }
    /// Every QueryValue / SetValue returns this code (REG_OK: normal operation).
    void FailQueries(long nError)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nQueryError = nError;
    }
    void FailWrites(long nError)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nSetError = nError;
    }
    int Queries() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nQueries;
    }
    int Writes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nWrites;
    }

private:
    using TKey = std::tuple<int, std::string, std::string>;
    static std::string Fold(std::string str)
    {
        std::transform(str.begin(), str.end(), str.begin(),
                       [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
        return str;
    }
    static TKey Key(os::ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName)
    {
        return TKey(static_cast<int>(eRoot), Fold(strKeyPath), Fold(strName));
    }

    mutable std::mutex m_mutex;
    std::map<TKey, SValue> m_mapValues;
    long m_nQueryError = os::REG_OK;
    long m_nSetError = os::REG_OK;
    int m_nQueries = 0;
    int m_nWrites = 0;
};
