#include "support/test_certs.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>

namespace testenv {
namespace {

EVP_PKEY* NewKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key)
        std::abort();
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        std::abort();
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509* NewCert(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey, bool ca,
              long serial) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 7 * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                               -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer ? issuer : cert;
    if (ca) {
        AddExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert, signer, NID_basic_constraints, "CA:FALSE");
        AddExtension(cert, signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
        AddExtension(cert, signer, NID_ext_key_usage, "serverAuth");
    }
    if (X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        std::abort();
    return cert;
}

void WriteCert(X509* cert, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    PEM_write_X509(file, cert);
    std::fclose(file);
}

void WriteKey(EVP_PKEY* key, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(file);
}

}  // namespace

TestCertificates MakeTestCertificates(const std::string& folder) {
    TestCertificates out{folder + "/ca.pem", folder + "/server.pem", folder + "/server.key",
                         folder + "/self.pem", folder + "/self.key"};
    EVP_PKEY* caKey = NewKey();
    X509* ca = NewCert(caKey, "Parlatto Test CA", nullptr, nullptr, true, 1);
    EVP_PKEY* serverKey = NewKey();
    X509* server = NewCert(serverKey, "127.0.0.1", ca, caKey, false, 2);
    EVP_PKEY* selfKey = NewKey();
    X509* self = NewCert(selfKey, "127.0.0.1", nullptr, nullptr, false, 3);
    WriteCert(ca, out.caFile);
    WriteCert(server, out.serverCert);
    WriteKey(serverKey, out.serverKey);
    WriteCert(self, out.selfSignedCert);
    WriteKey(selfKey, out.selfSignedKey);
    X509_free(ca);
    X509_free(server);
    X509_free(self);
    EVP_PKEY_free(caKey);
    EVP_PKEY_free(serverKey);
    EVP_PKEY_free(selfKey);
    return out;
}

}  // namespace testenv
