// The proxy every request of the process goes through, set once from a program's command line
// (or the window's settings) and read by every WebRequest that names no proxy of its own.
//
// Contract:
//   - `ParseProxy` checks a proxy address as the user gives it (UTF-8):
//     scheme://[user[:password]@]host[:port][/] with the scheme http, https, socks5h (the proxy
//     resolves the site's host name) or socks5 (this machine resolves it). User and password are
//     percent-decoded. A missing port is the scheme's: 80, 443, 1080 for both SOCKS schemes. The
//     error is one line naming the bad value, its password written "***".
//   - `UseProxy` makes a setting the process's proxy, or with nullopt leaves the choice to the
//     environment again (http_proxy, https_proxy, no_proxy, as libcurl reads them).
//   - With a proxy set, every request goes through it, whatever no_proxy says; credentials go to
//     the proxy only, never to a site, and are never part of a text that is printed or logged.
//
// Threads: `UseProxy` and `CurrentProxy` may be called from any thread at any time; a request
// takes one snapshot when it starts, so a change counts from the next request.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace mf {

struct ProxySetting {
  std::string scheme;    // "http", "https", "socks5h" or "socks5"
  std::string host;      // a name, an IPv4 address or "[IPv6]", as libcurl takes it
  int port = 0;          // 1 to 65535
  std::string user;      // decoded; empty: no credentials
  std::string password;  // decoded

  // "scheme://host:port", without the credentials: what the request engine is given.
  std::string Address() const;
};

// The setting for `address`, or a one-line error naming it (its password as "***").
std::variant<ProxySetting, std::string> ParseProxy(std::string_view address);

// `address` with whatever may be its password written "***", for a message about an address
// that ParseProxy may not have understood.
std::string ProxyAddressWithoutPassword(std::string_view address);

// The proxy address written in the file at `path` (its first line, without the spaces around
// it), for a password that no process list may show; or, in `error`, one line saying why the
// file is not used: it cannot be read, is not a regular file, is not the user's own, or others
// may read or write it (it must be private: chmod 600), or holds no address.
struct ProxyFile {
  std::string address;
  std::string error;
};
ProxyFile ReadProxyFile(const std::string& path);

// The environment variable that gives the proxy when no option does, for the same reason.
inline constexpr const char* kProxyVariable = "MAGNET_FINDER_PROXY";

// Overwrites the password of every --proxy value among the program's arguments (`--proxy URL`,
// `--proxy=URL`, one dash as well; up to a `--`) with '*' in place, so that the process list,
// which every local user may read, shows none. Call it once the arguments are parsed.
void HideProxyPasswords(int argc, char** argv);

// Makes `proxy` the process's proxy; nullopt: none, the environment's as before.
void UseProxy(std::optional<ProxySetting> proxy);
// The process's proxy; null when none is set.
std::shared_ptr<const ProxySetting> CurrentProxy();

}  // namespace mf
