#include "site/check_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/printable_text.h"

namespace mf {
namespace {

using Json = nlohmann::json;

// A record file is a few KiB; anything much larger is not one.
constexpr std::size_t kMaxRecordBytes = 1 << 20;

// The whole of a regular file, or nothing: a link is not followed, and a FIFO or a device is
// never read (opened without waiting, then refused).
std::string ReadSmallFile(const std::string& file) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    return std::string();
  }
  std::string text;
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
      static_cast<std::size_t>(status.st_size) <= kMaxRecordBytes) {
    char piece[16 * 1024];
    for (ssize_t n; text.size() <= kMaxRecordBytes && (n = read(fd, piece, sizeof piece)) != 0;) {
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0) {
        text.clear();
        break;
      }
      text.append(piece, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return text.size() > kMaxRecordBytes ? std::string() : text;
}

// Creates the folders of `path` that are missing, each 0700 as the user's cache wants them.
void MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
}

std::string Failed(const std::string& file) {
  return platform::PrintableText(file) +
         ": cannot write the check results: " + std::strerror(errno);
}

}  // namespace

std::string CheckRecordFile() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  // A relative XDG_CACHE_HOME is invalid and ignored, as the base-directory rules say.
  if (cache != nullptr && cache[0] == '/') {
    return std::string(cache) + "/magnet-finder/site-checks.json";
  }
  return home != nullptr && home[0] != '\0'
             ? std::string(home) + "/.cache/magnet-finder/site-checks.json"
             : std::string();
}

CheckRecords ReadCheckRecords(const std::string& file) {
  CheckRecords records;
  if (file.empty()) {
    return records;
  }
  const std::string text = ReadSmallFile(file);
  // Bounded in depth: records lie three levels down, and nothing much deeper is built.
  const Json::parser_callback_t shallow = [](int depth, Json::parse_event_t, Json&) {
    return depth <= 8;
  };
  const Json document = Json::parse(text, shallow, false);
  if (!document.is_object() || !document.contains("sites") || !document["sites"].is_object()) {
    return records;
  }
  for (const auto& [id, entry] : document["sites"].items()) {
    if (!entry.is_object() || !entry.contains("verdict") || !entry.contains("at") ||
        !entry["verdict"].is_string() || !entry["at"].is_number_integer()) {
      continue;
    }
    if (const auto verdict = VerdictNamed(entry["verdict"].get_ref<const std::string&>())) {
      records[id] = {*verdict, entry["at"].get<std::int64_t>()};
    }
  }
  return records;
}

std::string WriteCheckRecords(const CheckRecords& checked, const std::string& file) {
  if (file.empty()) {
    errno = ENOENT;
    return Failed("$XDG_CACHE_HOME");
  }
  CheckRecords records = ReadCheckRecords(file);
  for (const auto& [id, record] : checked) {
    records[id] = record;
  }
  Json sites = Json::object();
  for (const auto& [id, record] : records) {
    sites[id] = {{"verdict", VerdictName(record.verdict)}, {"at", record.at}};
  }
  // Invalid UTF-8 in an id (only a hand-edited file holds one) is replaced, never thrown over.
  const std::string text =
      Json{{"sites", sites}}.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
  MakeFolders(file);
  const std::string temporary = file + ".part-" + std::to_string(getpid());
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    return Failed(file);
  }
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  const bool whole = written == text.size();
  if (close(fd) != 0 || !whole || rename(temporary.c_str(), file.c_str()) != 0) {
    const std::string error = Failed(file);
    unlink(temporary.c_str());
    return error;
  }
  return std::string();
}

std::string CheckTime(std::int64_t at) {
  const std::time_t when = static_cast<std::time_t>(at);
  std::tm utc{};
  char text[32] = "";
  if (gmtime_r(&when, &utc) != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  }
  return text;
}

}  // namespace mf
