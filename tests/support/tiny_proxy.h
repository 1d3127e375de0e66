// tinyproxy for tests, with Basic credentials "user" / "secret", on a free loopback port; it ends
// with the object.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace mf::test {

class TinyProxy {
 public:
  // Writes its configuration into `directory` and starts it.
  explicit TinyProxy(const std::filesystem::path& directory);
  ~TinyProxy();
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  // Waits until it accepts connections; false when it did not start.
  bool Ready() const;
  std::string Address() const;  // "127.0.0.1:PORT"

 private:
  pid_t pid_ = 0;
  int port_ = 0;
};

}  // namespace mf::test
