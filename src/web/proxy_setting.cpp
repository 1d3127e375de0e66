#include "web/proxy_setting.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/printable_text.h"
#include "web/curl_url.h"

namespace mf {
namespace {

struct KnownScheme {
  std::string_view name;
  int defaultPort;
};
constexpr std::array<KnownScheme, 4> kSchemes = {{
    {"http", 80},
    {"https", 443},
    {"socks5h", 1080},
    {"socks5", 1080},
}};

// Room for the longest address of two SOCKS5 credentials and a long host name, and a comment.
constexpr std::size_t kMostProxyFileBytes = 4096;

// RFC 1929 gives a SOCKS5 user name and password one length byte each.
constexpr std::size_t kMaxSocksCredential = 255;

using web_internal::Part;
using web_internal::UrlPtr;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return lower;
}

// With `spaceToo`, a space counts as well.
bool HoldsControl(std::string_view text, bool spaceToo = false) {
  return std::any_of(text.begin(), text.end(), [spaceToo](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F || (spaceToo && byte == 0x20);
  });
}

// Why libcurl's URL parser refused the address, in the words of our other address messages.
std::string_view ParseProblem(CURLUcode code) {
  switch (code) {
    case CURLUE_BAD_PORT_NUMBER:
      return "the port is not a number from 1 to 65535";
    case CURLUE_NO_HOST:
      return "the proxy address has no host";
    case CURLUE_BAD_HOSTNAME:
    case CURLUE_BAD_IPV6:
      return "the proxy's host is not a valid host name or IP address";
    case CURLUE_BAD_LOGIN:
    case CURLUE_BAD_USER:
    case CURLUE_BAD_PASSWORD:
      return "the proxy's user or password is not valid (percent-encode '@', ':' and '/')";
    case CURLUE_URLDECODE:
      return "the proxy's user or password holds a control character";
    default:
      return "not a proxy address";
  }
}

// What is wrong with a parsed address beyond what the parser checks; empty when nothing.
std::string_view PartsProblem(CURLU* url, ProxySetting& setting) {
  if (Part(url, CURLUPART_ZONEID)) {
    return "a proxy address cannot name an IPv6 zone";
  }
  const std::optional<std::string> path = Part(url, CURLUPART_PATH);
  if ((path && *path != "/" && !path->empty()) || Part(url, CURLUPART_QUERY) ||
      Part(url, CURLUPART_FRAGMENT)) {
    return "a proxy address is scheme://[user[:password]@]host[:port], without a path";
  }
  const std::optional<std::string> port = Part(url, CURLUPART_PORT);
  if (port) {
    const auto [end, error] =
        std::from_chars(port->data(), port->data() + port->size(), setting.port);
    if (error != std::errc() || end != port->data() + port->size() || setting.port < 1 ||
        setting.port > 65535) {
      return "the port is not a number from 1 to 65535";
    }
  }
  setting.host = Part(url, CURLUPART_HOST).value_or(std::string());
  if (setting.host.empty()) {
    return "the proxy address has no host";
  }
  if (std::any_of(setting.host.begin(), setting.host.end(),
                  [](char c) { return (c & 0x80) != 0; })) {
    return "the proxy's host is written in ASCII (an international name in its xn-- form)";
  }
  // libcurl refuses to decode a control character: present, yet not decoded, is one.
  const std::optional<std::string> user = Part(url, CURLUPART_USER, CURLU_URLDECODE);
  const std::optional<std::string> password = Part(url, CURLUPART_PASSWORD, CURLU_URLDECODE);
  if ((!user && Part(url, CURLUPART_USER)) || (!password && Part(url, CURLUPART_PASSWORD))) {
    return "the proxy's user or password holds a control character";
  }
  setting.user = user.value_or(std::string());
  setting.password = password.value_or(std::string());
  if (setting.user.empty() && !setting.password.empty()) {
    return "the proxy address has a password but no user";
  }
  // libcurl takes credentials as C strings; a line break could end a header line.
  if (HoldsControl(setting.user) || HoldsControl(setting.password)) {
    return "the proxy's user or password holds a control character";
  }
  if (setting.scheme.starts_with("socks") && (setting.user.size() > kMaxSocksCredential ||
                                              setting.password.size() > kMaxSocksCredential)) {
    return "a SOCKS proxy's user and password are at most 255 bytes each";
  }
  return {};
}

struct ProxyState {
  std::mutex mutex;
  std::shared_ptr<const ProxySetting> proxy;
};

ProxyState& State() {
  static ProxyState* const state = new ProxyState;  // workers may outlive main
  return *state;
}

// Where the password of a proxy address is, as [start, end); empty when it has none. A password
// may hold '/' or '?', which would end the address's authority for AddressWithoutPassword:
// everything between the first ':' after the scheme and the last '@' is taken.
std::pair<std::size_t, std::size_t> PasswordSpan(std::string_view address) {
  const std::size_t scheme = address.find("://");
  const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos || at < start) {
    return {0, 0};
  }
  const std::size_t colon = address.find(':', start);
  if (colon == std::string_view::npos || colon > at) {
    return {0, 0};
  }
  return {colon + 1, at};
}

// The first line of `text`, without the white space around it.
std::string FirstLine(std::string_view text) {
  const std::string_view line = text.substr(0, text.find('\n'));
  const std::size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return std::string();
  }
  return std::string(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
}

}  // namespace

std::string ProxySetting::Address() const {
  return scheme + "://" + host + ":" + std::to_string(port);
}

std::string ProxyAddressWithoutPassword(std::string_view address) {
  const auto [start, end] = PasswordSpan(address);
  if (start == end && start == 0) {
    return std::string(address);
  }
  return std::string(address.substr(0, start)) + "***" + std::string(address.substr(end));
}

ProxyFile ReadProxyFile(const std::string& path) {
  const std::string shown = "'" + platform::PrintableText(path) + "'";
  // Not blocking: a FIFO in its place must not hang the program.
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (file < 0) {
    return {{}, "cannot read " + shown + ": " + std::strerror(errno)};
  }
  struct stat status {};
  std::string text(kMostProxyFileBytes + 1, '\0');
  ssize_t got = -1;
  std::string error;
  if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
    error = shown + " is not a regular file";
  } else if (status.st_uid != geteuid()) {
    error = shown + " is not your own file";
  } else if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    error = shown + " may be read or written by others: make it private (chmod 600)";
  } else if (got = read(file, text.data(), text.size()); got < 0) {
    error = "cannot read " + shown + ": " + std::strerror(errno);
  }
  close(file);
  if (!error.empty()) {
    return {{}, error};
  }
  if (static_cast<std::size_t>(got) > kMostProxyFileBytes) {
    return {{}, shown + " is larger than a proxy address"};
  }
  text.resize(static_cast<std::size_t>(got));
  std::string address = FirstLine(text);
  if (address.empty()) {
    return {{}, shown + " holds no proxy address on its first line"};
  }
  return {std::move(address), {}};
}

void HideProxyPasswords(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") {
      return;
    }
    char* value = nullptr;
    if ((argument == "--proxy" || argument == "-proxy") && i + 1 < argc) {
      value = argv[++i];
    } else if (argument.starts_with("--proxy=") || argument.starts_with("-proxy=")) {
      value = argv[i] + argument.find('=') + 1;
    }
    if (value != nullptr) {
      const auto [start, end] = PasswordSpan(value);
      std::fill(value + start, value + end, '*');
    }
  }
}

std::variant<ProxySetting, std::string> ParseProxy(std::string_view address) {
  const auto fail = [address](std::string_view why) {
    return std::string(why) + ": '" +
           platform::PrintableText(ProxyAddressWithoutPassword(address)) + "'";
  };
  const std::size_t separator = address.find("://");
  const std::string scheme =
      separator == std::string_view::npos ? std::string() : Lower(address.substr(0, separator));
  const auto known = std::find_if(kSchemes.begin(), kSchemes.end(),
                                  [&](const KnownScheme& known) { return known.name == scheme; });
  if (known == kSchemes.end()) {
    return fail("not an http://, https://, socks5h:// or socks5:// proxy address");
  }
  if (HoldsControl(address, true)) {
    return fail("the proxy address holds a space or a control character");
  }
  // An '@' after the end of the host part means a password that ended the host part early.
  const std::size_t authorityEnd = address.find_first_of("/?#", separator + 3);
  if (authorityEnd != std::string_view::npos &&
      address.find('@', authorityEnd) != std::string_view::npos) {
    return fail("percent-encode a '/', '?' or '#' in the proxy's user or password (%2F, %3F, %23)");
  }
  const UrlPtr url(curl_url());
  if (url == nullptr) {
    return fail("out of memory");
  }
  const std::string whole(address);
  if (const CURLUcode code =
          curl_url_set(url.get(), CURLUPART_URL, whole.c_str(), CURLU_NON_SUPPORT_SCHEME);
      code != CURLUE_OK) {
    return fail(ParseProblem(code));
  }
  ProxySetting setting;
  setting.scheme = scheme;
  setting.port = known->defaultPort;
  if (const std::string_view problem = PartsProblem(url.get(), setting); !problem.empty()) {
    return fail(problem);
  }
  return setting;
}

void UseProxy(std::optional<ProxySetting> proxy) {
  std::shared_ptr<const ProxySetting> next =
      proxy ? std::make_shared<const ProxySetting>(std::move(*proxy)) : nullptr;
  ProxyState& state = State();
  const std::lock_guard lock(state.mutex);
  state.proxy.swap(next);
}

std::shared_ptr<const ProxySetting> CurrentProxy() {
  ProxyState& state = State();
  const std::lock_guard lock(state.mutex);
  return state.proxy;
}

}  // namespace mf
