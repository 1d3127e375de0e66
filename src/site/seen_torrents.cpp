#include "site/seen_torrents.h"

#include <cstring>
#include <optional>
#include <random>

#include "site/info_hash.h"

namespace mf {
namespace {

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
  const std::optional<Key> key = InfoHashBytes(infoHash);
  if (!key) {
    return 0;
  }
  const auto [it, added] = rows_.try_emplace(*key, number);
  return added ? 0 : it->second;
}

}  // namespace mf
