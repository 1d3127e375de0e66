#include "cli/seen_torrents.h"

#include <cstring>
#include <optional>
#include <random>

namespace mf::cli {
namespace {

std::optional<std::uint8_t> HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return static_cast<std::uint8_t>(c - '0');
  }
  if (c >= 'a' && c <= 'f') {
    return static_cast<std::uint8_t>(c - 'a' + 10);
  }
  if (c >= 'A' && c <= 'F') {
    return static_cast<std::uint8_t>(c - 'A' + 10);
  }
  return std::nullopt;
}

// A 64-bit mix with every bit of the input reaching every bit of the output (splitmix64's).
std::uint64_t Mix(std::uint64_t value) {
  value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
  value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
  return value ^ (value >> 31);
}

std::uint64_t RandomSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

}  // namespace

std::size_t SeenTorrents::KeyHash::operator()(const Key& key) const {
  std::uint64_t words[3] = {0, 0, 0};
  std::memcpy(words, key.data(), key.size());
  std::uint64_t hash = seed;
  for (const std::uint64_t word : words) {
    hash = Mix(hash ^ word);
  }
  return static_cast<std::size_t>(hash);
}

SeenTorrents::SeenTorrents() : rows_(0, KeyHash{RandomSeed()}) {}

long SeenTorrents::FirstRow(std::string_view infoHash, long number) {
  Key key{};
  if (infoHash.size() != 2 * key.size()) {
    return 0;
  }
  for (std::size_t i = 0; i < key.size(); ++i) {
    const auto high = HexDigit(infoHash[2 * i]);
    const auto low = HexDigit(infoHash[2 * i + 1]);
    if (!high || !low) {
      return 0;
    }
    key[i] = static_cast<std::uint8_t>(*high << 4 | *low);
  }
  const auto [it, added] = rows_.try_emplace(key, number);
  return added ? 0 : it->second;
}

}  // namespace mf::cli
