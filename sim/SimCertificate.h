#pragma once
// Self-signed key and certificate of a simulated terminal, made at Start through the
// OpenSSL C API (no files, no external tool). Only PEM text crosses this header, so no
// OpenSSL type leaks into the simulator's interface.

#include "SimTypes.h"

#include <string>

namespace sim
{
/// Makes a key of eKeyType and a version-3 certificate with subject and issuer CN strCommonName,
/// valid from strNotBefore to strNotAfter (ASN.1 text "YYYYMMDDHHMMSSZ" or "YYMMDDHHMMSSZ"),
/// signed with SHA-256. Returns SIM_OK or SIM_ERR_CONFIG (dates) / SIM_ERR_TLS (key, signing),
/// with a reason in strError.
int MakeSelfSignedCertificate(EKeyType eKeyType, const std::string& strCommonName, const std::string& strNotBefore,
                              const std::string& strNotAfter, std::string& strKeyPem, std::string& strCertPem,
                              std::string& strError);
} // namespace sim
