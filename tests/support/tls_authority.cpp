#include "support/tls_authority.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace dravion::test {
namespace {

std::string OpenSslError(const std::string& what) {
  char text[256] = {};
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  return what + ": " + text;
}

// A certificate for `key` named `commonName`, valid from an hour ago for two days, its
// extensions as OpenSSL's configuration texts; signed by `issuer` with `issuerKey` (itself when
// null). Null when OpenSSL refuses.
X509* MakeCertificate(EVP_PKEY* key, const std::string& commonName, long serial, X509* issuer,
                      EVP_PKEY* issuerKey,
                      const std::vector<std::pair<int, std::string>>& extensions) {
  X509* certificate = X509_new();
  bool ok = certificate != nullptr && X509_set_version(certificate, 2) == 1 &&
            ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial) == 1 &&
            X509_gmtime_adj(X509_getm_notBefore(certificate), -3600) != nullptr &&
            X509_gmtime_adj(X509_getm_notAfter(certificate), 2 * 86400) != nullptr &&
            X509_set_pubkey(certificate, key) == 1 &&
            X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(commonName.c_str()),
                                       -1, -1, 0) == 1 &&
            X509_set_issuer_name(certificate, X509_get_subject_name(issuer ? issuer : certificate));
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  if (ok) X509V3_set_ctx(&context, issuer ? issuer : certificate, certificate, nullptr, nullptr, 0);
  for (const auto& [nid, value] : extensions) {
    if (!ok) break;
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    ok = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
  }
  ok = ok && X509_sign(certificate, issuerKey ? issuerKey : key, EVP_sha256()) > 0;
  if (!ok) {
    X509_free(certificate);
    return nullptr;
  }
  return certificate;
}

bool WritePem(const std::string& path, X509* certificate, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  const bool ok = certificate
                      ? PEM_write_X509(file, certificate) == 1
                      : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  return std::fclose(file) == 0 && ok;
}

}  // namespace

TlsAuthority::TlsAuthority(const std::string& folder, const std::string& name)
    : folder_(folder), certificateFile_(folder + "/" + name + "-ca.pem") {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  key_ = key;
  if (key == nullptr) {
    error_ = OpenSslError("no key");
    return;
  }
  X509* certificate = MakeCertificate(key, name + " test authority", serial_++, nullptr, nullptr,
                                      {{NID_basic_constraints, "critical,CA:TRUE"},
                                       {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                       {NID_subject_key_identifier, "hash"}});
  certificate_ = certificate;
  if (certificate == nullptr) {
    error_ = OpenSslError("no authority certificate");
  } else if (!WritePem(certificateFile_, certificate, nullptr)) {
    error_ = "cannot write " + certificateFile_;
  }
}

TlsAuthority::~TlsAuthority() {
  X509_free(static_cast<X509*>(certificate_));
  EVP_PKEY_free(static_cast<EVP_PKEY*>(key_));
}

TlsAuthority::Server TlsAuthority::Issue(const std::string& file,
                                         const std::vector<std::string>& names) {
  Server server{folder_ + "/" + file + ".pem", folder_ + "/" + file + "-key.pem"};
  if (!Valid()) return server;
  std::string alternatives;
  for (const std::string& name : names) {
    if (!alternatives.empty()) alternatives += ",";
    alternatives += (name == "127.0.0.1" ? "IP:" : "DNS:") + name;
  }
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* certificate =
      key == nullptr
          ? nullptr
          : MakeCertificate(key, names.empty() ? file : names.front(), serial_++,
                            static_cast<X509*>(certificate_), static_cast<EVP_PKEY*>(key_),
                            {{NID_basic_constraints, "critical,CA:FALSE"},
                             {NID_key_usage, "critical,digitalSignature,keyEncipherment"},
                             {NID_ext_key_usage, "serverAuth"},
                             {NID_subject_alt_name, alternatives},
                             {NID_authority_key_identifier, "keyid"}});
  if (certificate == nullptr) {
    error_ = OpenSslError("no server certificate " + file);
  } else if (!WritePem(server.certificate, certificate, nullptr) ||
             !WritePem(server.key, nullptr, key)) {
    error_ = "cannot write " + server.certificate;
  }
  X509_free(certificate);
  EVP_PKEY_free(key);
  return server;
}

}  // namespace dravion::test
