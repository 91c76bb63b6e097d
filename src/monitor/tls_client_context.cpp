#include "monitor/tls_client_context.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <climits>
#include <memory>

namespace dravion {
namespace {

// OpenSSL's reason for the last failure of this thread, and its error queue emptied.
std::string OpenSslReason() {
  const unsigned long code = ERR_peek_last_error();
  std::string reason;
  if (code != 0) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    reason = text;
  }
  ERR_clear_error();
  return reason.empty() ? "unknown reason" : reason;
}

// Whether `host` is an IP address (v4 or v6) as text, which a certificate names as such.
bool IsIpAddress(const std::string& host) {
  ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
  if (address == nullptr) {
    ERR_clear_error();
    return false;
  }
  ASN1_OCTET_STRING_free(address);
  return true;
}

}  // namespace

int AddPemCertificates(x509_store_st* store, const std::string& pem) {
  if (pem.empty() || pem.size() > static_cast<size_t>(INT_MAX)) return -1;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  if (!bio) return -1;
  int added = 0;
  for (;;) {
    X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (certificate == nullptr) {
      // The end of the text ends the loop without a certificate; anything else is a fault.
      const unsigned long code = ERR_peek_last_error();
      const bool end =
          ERR_GET_LIB(code) == ERR_LIB_PEM && ERR_GET_REASON(code) == PEM_R_NO_START_LINE;
      ERR_clear_error();
      return end && added > 0 ? added : -1;
    }
    // The store takes a reference of its own.
    const int ok = X509_STORE_add_cert(store, certificate);
    X509_free(certificate);
    if (ok != 1) {
      ERR_clear_error();
      return -1;
    }
    ++added;
  }
}

ssl_ctx_st* NewTlsClientContext(const std::string& host, const std::string& authoritiesPem,
                                std::string& error) {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                            SSL_CTX_free);
  if (!context) {
    error = "TLS could not be set up: " + OpenSslReason();
    return nullptr;
  }
  if (SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1) {
    error = "TLS could not be set up: " + OpenSslReason();
    return nullptr;
  }
  SSL_CTX_set_options(context.get(), SSL_OP_NO_COMPRESSION);
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  // The name the certificate must hold: connections made from the context inherit it.
  X509_VERIFY_PARAM* check = SSL_CTX_get0_param(context.get());
  X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  const bool named = IsIpAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str()) == 1
                                       : X509_VERIFY_PARAM_set1_host(check, host.c_str(), 0) == 1;
  if (host.empty() || !named) {
    error = "TLS could not be set up for the host " + host;
    ERR_clear_error();
    return nullptr;
  }
  X509_STORE* store = SSL_CTX_get_cert_store(context.get());
  if (!authoritiesPem.empty()) {
    if (AddPemCertificates(store, authoritiesPem) <= 0) {
      error = "its certificate authorities cannot be read";
      return nullptr;
    }
  } else {
#ifdef _WIN32
    SystemRootsLoaded loaded;
    if (!AddSystemRootCertificates(store, loaded, error)) return nullptr;
    if (loaded.added == 0) {
      error = "the system's store of root certificates holds none that vouches for servers";
      return nullptr;
    }
#else
    if (SSL_CTX_set_default_verify_paths(context.get()) != 1) {
      error = "the system's certificate authorities cannot be read: " + OpenSslReason();
      return nullptr;
    }
#endif
  }
  return context.release();
}

}  // namespace dravion
