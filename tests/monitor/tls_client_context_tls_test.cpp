#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "monitor/tls_client_context.h"
#include "support/scratch_folder.h"
#include "support/tls_authority.h"

namespace dravion {
namespace {

using test::TlsAuthority;

struct Handshake {
  bool connected = false;
  long verification = -1;  // the client's X509_V_* result
};

// One TLS handshake on loopback: a server with `server`'s certificate accepts one connection,
// and a client made from `client` connects to it.
Handshake HandshakeWith(SSL_CTX* client, const TlsAuthority::Server& server) {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> serving(SSL_CTX_new(TLS_server_method()),
                                                            SSL_CTX_free);
  if (SSL_CTX_use_certificate_chain_file(serving.get(), server.certificate.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(serving.get(), server.key.c_str(), SSL_FILETYPE_PEM) != 1)
    return {};
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener, 1);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  std::thread serve([&] {
    const int s = ::accept(listener, nullptr, nullptr);
    if (s < 0) return;
    SSL* ssl = SSL_new(serving.get());
    SSL_set_fd(ssl, s);
    if (SSL_accept(ssl) == 1) SSL_shutdown(ssl);
    SSL_free(ssl);
    ::close(s);
  });
  Handshake result;
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    SSL* ssl = SSL_new(client);
    SSL_set_fd(ssl, s);
    result.connected = SSL_connect(ssl) == 1;
    result.verification = SSL_get_verify_result(ssl);
    SSL_free(ssl);
    // The server ends (its read sees the end) before the socket closes: what it still writes
    // finds the socket open.
    ::shutdown(s, SHUT_WR);
  }
  serve.join();
  ::close(s);
  ::close(listener);
  return result;
}

// The context handed to the MQTT library on Windows, against real handshakes: a broker whose
// certificate the `ca` vouches for and that names the host gets a connection; one whose
// certificate names another host or address, or comes from an authority not in `ca`, does not.
TEST(TlsClientContextHandshake, OnlyATrustedCertificateNamingTheBrokerConnects) {
  test::ScratchFolder folder("tls-handshake");
  TlsAuthority trusted(folder.Utf8(), "local");
  TlsAuthority unknown(folder.Utf8(), "unknown");
  const TlsAuthority::Server loopback = trusted.Issue("loopback", {"127.0.0.1", "localhost"});
  const TlsAuthority::Server otherName = trusted.Issue("other", {"elsewhere.example"});
  const TlsAuthority::Server stranger = unknown.Issue("stranger", {"127.0.0.1", "localhost"});
  ASSERT_TRUE(trusted.Valid() && unknown.Valid()) << trusted.Error() << unknown.Error();
  std::ifstream file(trusted.CertificateFile());
  std::stringstream pem;
  pem << file.rdbuf();

  for (const std::string host : {"127.0.0.1", "localhost"}) {
    std::string error;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> client(
        NewTlsClientContext(host, pem.str(), error), SSL_CTX_free);
    ASSERT_TRUE(client) << error;
    const Handshake good = HandshakeWith(client.get(), loopback);
    EXPECT_TRUE(good.connected) << host;
    EXPECT_EQ(good.verification, X509_V_OK) << host;
    const Handshake misnamed = HandshakeWith(client.get(), otherName);
    EXPECT_FALSE(misnamed.connected) << host;
    EXPECT_EQ(misnamed.verification,
              host == "localhost" ? X509_V_ERR_HOSTNAME_MISMATCH : X509_V_ERR_IP_ADDRESS_MISMATCH);
    const Handshake untrusted = HandshakeWith(client.get(), stranger);
    EXPECT_FALSE(untrusted.connected) << host;
    EXPECT_EQ(untrusted.verification, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY) << host;
  }
}

}  // namespace
}  // namespace dravion
