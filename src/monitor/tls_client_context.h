#pragma once

#include <string>

struct ssl_ctx_st;
struct x509_store_st;

namespace dravion {

// A TLS client context (OpenSSL) for connections to `host`: TLS 1.2 at least, and the server's
// certificate must chain to a trusted authority and name `host` (a DNS name, or an IP address
// given as one). It trusts the certificates of `authoritiesPem` alone when that is not empty, else
// the system's authorities: on Windows the certificates of its "ROOT" store (OpenSSL does not read
// it), elsewhere OpenSSL's default locations. nullptr with `error` saying why when it cannot be
// made. Freed with SSL_CTX_free (it is reference counted: a library handed it takes its own
// reference).
ssl_ctx_st* NewTlsClientContext(const std::string& host, const std::string& authoritiesPem,
                                std::string& error);

// Adds the certificates of PEM text held in memory to `store`: their number, or -1 when the text
// holds no certificate or one that cannot be read.
int AddPemCertificates(x509_store_st* store, const std::string& pem);

#ifdef _WIN32
// What loading the Windows "ROOT" store gave: certificates added to the store, those left out
// because their properties there keep them from vouching for a server (enhanced key usage without
// server authentication), and those OpenSSL could not read.
struct SystemRootsLoaded {
  int added = 0;
  int notForServers = 0;
  int unreadable = 0;
};
// Adds the certificates of the system's "ROOT" store (the local machine's and the user's trusted
// root authorities) to `store`. False with `error` when the store cannot be opened or read.
bool AddSystemRootCertificates(x509_store_st* store, SystemRootsLoaded& loaded, std::string& error);
#endif

}  // namespace dravion
