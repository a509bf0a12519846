#include "SimCertificate.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace sim
{
namespace
{
template <auto Fn> struct Deleter
{
    template <class T> void operator()(T* p) const { Fn(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using TimePtr = std::unique_ptr<ASN1_TIME, Deleter<ASN1_TIME_free>>;

std::string BioText(BIO* pBio)
{
    char* pData = nullptr;
    const long n = BIO_get_mem_data(pBio, &pData);
    return n > 0 && pData ? std::string(pData, static_cast<size_t>(n)) : std::string();
}

KeyPtr MakeKey(EKeyType eType)
{
    if (eType == EKeyType::EcBrainpoolP256r1)
        return KeyPtr(EVP_EC_gen("brainpoolP256r1"));
    return KeyPtr(EVP_RSA_gen(2048));
}
} // namespace

int MakeSelfSignedCertificate(EKeyType eKeyType, const std::string& strCommonName, const std::string& strNotBefore,
                              const std::string& strNotAfter, std::string& strKeyPem, std::string& strCertPem,
                              std::string& strError)
{
    TimePtr pBefore(ASN1_TIME_new());
    TimePtr pAfter(ASN1_TIME_new());
    if (!pBefore || !pAfter)
    {
        strError = "out of memory";
        return SIM_ERR_TLS;
    }
    if (ASN1_TIME_set_string_X509(pBefore.get(), strNotBefore.c_str()) != 1 ||
        ASN1_TIME_set_string_X509(pAfter.get(), strNotAfter.c_str()) != 1)
    {
        strError = "certificate dates must read YYYYMMDDHHMMSSZ: '" + strNotBefore + "', '" + strNotAfter + "'";
        return SIM_ERR_CONFIG;
    }
    KeyPtr pKey = MakeKey(eKeyType);
    CertPtr pCert(X509_new());
    if (!pKey || !pCert)
    {
        strError = "key generation failed";
        return SIM_ERR_TLS;
    }
    X509_set_version(pCert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(pCert.get()), 0x5117);
    X509_set1_notBefore(pCert.get(), pBefore.get());
    X509_set1_notAfter(pCert.get(), pAfter.get());
    X509_NAME* pName = X509_get_subject_name(pCert.get());
    const std::string strCn = strCommonName.empty() ? std::string("terminal.sim") : strCommonName.substr(0, 64);
    X509_NAME_add_entry_by_txt(pName, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(strCn.c_str()), -1,
                               -1, 0);
    X509_set_issuer_name(pCert.get(), pName);
    X509_set_pubkey(pCert.get(), pKey.get());
    if (X509_sign(pCert.get(), pKey.get(), EVP_sha256()) <= 0)
    {
        strError = "signing the certificate failed";
        return SIM_ERR_TLS;
    }
    BioPtr pKeyBio(BIO_new(BIO_s_mem()));
    BioPtr pCertBio(BIO_new(BIO_s_mem()));
    if (!pKeyBio || !pCertBio ||
        PEM_write_bio_PrivateKey(pKeyBio.get(), pKey.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_X509(pCertBio.get(), pCert.get()) != 1)
    {
        strError = "writing PEM failed";
        return SIM_ERR_TLS;
    }
    strKeyPem = BioText(pKeyBio.get());
    strCertPem = BioText(pCertBio.get());
    return SIM_OK;
}
} // namespace sim
