#pragma once

#include <atomic>
#include <string>

namespace dravion {

// One HTTP exchange of a monitoring output.
struct HttpExchange {
  std::string method = "GET";  // GET or POST
  std::string url;
  std::string body;         // POST only
  std::string contentType;  // of the body
  // Certificate authorities trusted for this exchange besides the system's (on Windows, where
  // Schannel checks them, in place of the system's store), in PEM; empty: the system's alone.
  std::string authoritiesPem;
};

struct HttpAnswer {
  bool reached = false;  // an answer came (any status); false: no connection, a time-out, TLS
  long status = 0;
  std::string body;   // an answer longer than kHttpAnswerMaxBytes is not reached: its transfer ends
  std::string error;  // why it was not reached; never holds the URL (it may carry secrets)
};

inline constexpr size_t kHttpAnswerMaxBytes = 64 * 1024;

// Runs one exchange with libcurl: the server's certificate and name always verified (by the
// system's authorities and the exchange's own; on Windows by Schannel), 10 s to connect, 30 s in
// all, redirects not followed. A certificate that is not trusted is said as such in `error`.
// `abort` set by another thread ends it within about a second, also while a name is looked up.
HttpAnswer RunHttpExchange(const HttpExchange& exchange, const std::atomic<bool>& abort);

// `text` for a URL's query: every byte but letters, digits and -._~ as %XX.
std::string UrlEncoded(const std::string& text);

}  // namespace dravion
