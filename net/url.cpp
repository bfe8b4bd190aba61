#include "net/url.h"

#include "platform/text.h"

namespace kv {
namespace {

int SchemeType(std::string_view scheme) {
  static constexpr struct {
    const char* name;
    int type;
  } kSchemes[] = {{"http", kSchemeHttp},     {"gopher", kSchemeGopher}, {"ftp", kSchemeFtp},
                  {"wais", kSchemeWais},     {"telnet", kSchemeTelnet}, {"usenet", kSchemeUsenet},
                  {"mailto", kSchemeMailto}};
  for (const auto& s : kSchemes)
    if (EqualsNoCase(scheme, s.name)) return s.type;
  return kSchemeUnknown;
}

int DefaultPort(int type) {
  switch (type) {
    case kSchemeHttp: return 80;
    case kSchemeFtp: return 21;
    case kSchemeTelnet: return 23;
    default: return 0;
  }
}

}  // namespace

std::string NormalizeUrl(std::string_view text) {
  if ((text.size() >= 2 && text[1] == ':') || (text.size() >= 2 && text[0] == '\\' && text[1] == '\\'))
    return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    uint8_t b = static_cast<uint8_t>(c);
    // Printable means a visible ASCII character here; space and controls go.
    if (b <= 0x20 || b == 0x7F) continue;
    out += c == '\\' ? '/' : c;
  }
  return out;
}

bool ParseUrl(std::string_view text, UrlRecord& out) {
  out = UrlRecord{};
  std::string url = NormalizeUrl(text);
  size_t colon = url.find(':');
  if (colon == std::string::npos) return false;
  int type = SchemeType(std::string_view(url).substr(0, colon));
  std::string_view rest = std::string_view(url).substr(colon + 1);
  if (rest.substr(0, 2) != "//") return false;
  rest.remove_prefix(2);
  size_t hostEnd = rest.find_first_of(":/");
  if (hostEnd == std::string_view::npos) return false;
  std::string host(rest.substr(0, hostEnd));
  long port = 0;
  if (rest[hostEnd] == ':') {
    size_t slash = rest.find('/', hostEnd);
    if (slash == std::string_view::npos) return false;
    // Digits as the C library's number reader takes them; anything else ends it.
    for (size_t i = hostEnd + 1; i < slash && rest[i] >= '0' && rest[i] <= '9'; ++i) {
      port = port * 10 + (rest[i] - '0');
      if (port > 65535) return false;  // a port beyond 16 bits names no service
    }
    hostEnd = slash;
  }
  if (port == 0) port = DefaultPort(type);
  if (port == 0) return false;
  out.type = type;
  out.host = std::move(host);
  out.port = static_cast<int>(port);
  out.path = std::string(rest.substr(hostEnd));
  return true;
}

bool IsAbsoluteName(std::string_view text) {
  UrlRecord url;
  if (ParseUrl(text, url)) return true;
  std::string_view t = Trim(text);
  if (t.size() > 2 && t[1] == ':') return true;
  return t.size() >= 2 && ((t[0] == '\\' && t[1] == '\\') || (t[0] == '/' && t[1] == '/'));
}

}  // namespace kv
