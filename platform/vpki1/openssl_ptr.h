// Owning pointers for OpenSSL objects: each frees its object with the
// matching OpenSSL function.
#pragma once

#include <memory>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace vpki1 {

template <auto FreeFunction>
struct OpenSslFree
{
    template <typename T>
    void operator()(T* object) const
    {
        FreeFunction(object);
    }
};

using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using CrlPtr = std::unique_ptr<X509_CRL, OpenSslFree<X509_CRL_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using NamePtr = std::unique_ptr<X509_NAME, OpenSslFree<X509_NAME_free>>;
using TimePtr = std::unique_ptr<ASN1_TIME, OpenSslFree<ASN1_TIME_free>>;

} // namespace vpki1
