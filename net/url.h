// The URL rules of the player's HTTP client: normalising, parsing into a
// scheme/host/port/path record, and telling absolute names from relative
// ones. Used by the project tree, the resource locator and the HTTP client.
#pragma once

#include <string>
#include <string_view>

namespace kv {

enum UrlScheme : int {
  kSchemeUnknown = 0,
  kSchemeHttp = 1,
  kSchemeGopher = 2,
  kSchemeFtp = 3,
  kSchemeWais = 4,
  kSchemeTelnet = 5,
  kSchemeUsenet = 6,
  kSchemeMailto = 7,
};

struct UrlRecord {
  int type = kSchemeUnknown;
  std::string host;
  int port = 0;
  std::string path;  // begins with "/"
};

// Drive paths and "\\" paths come back unchanged; otherwise white space and
// non-printable characters are dropped and "\" becomes "/".
std::string NormalizeUrl(std::string_view text);

// On failure `out` is cleared (type 0, empty host and path, port 0).
bool ParseUrl(std::string_view text, UrlRecord& out);

// A URL, a drive path longer than two characters, or a "\\" or "//" name.
bool IsAbsoluteName(std::string_view text);

}  // namespace kv
