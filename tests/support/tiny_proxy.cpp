#include "tiny_proxy.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>

#include "loopback_server.h"
#include "wait_until.h"

extern char** environ;

namespace mf::test {

TinyProxy::TinyProxy(const std::filesystem::path& directory) {
  port_ = FreeLoopbackPort();
  const std::filesystem::path config = directory / "tinyproxy.conf";
  std::ofstream(config) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\n"
                        << "MaxClients 16\nAllow 127.0.0.1\nBasicAuth user secret\n"
                        << "LogLevel Critical\n";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "tinyproxy";
  std::string foreground = "-d";
  std::string configFlag = "-c";
  std::string path = config.string();
  char* arguments[] = {program.data(), foreground.data(), configFlag.data(), path.data(), nullptr};
  if (posix_spawnp(&pid_, "tinyproxy", &actions, nullptr, arguments, environ) != 0) {
    pid_ = 0;
  }
  posix_spawn_file_actions_destroy(&actions);
}

TinyProxy::~TinyProxy() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool TinyProxy::Ready() const {
  return pid_ > 0 && port_ > 0 && WaitUntil([this] { return Accepts(port_); });
}

std::string TinyProxy::Address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

}  // namespace mf::test
