// Site layer: the torrents a search has listed, by info-hash, so that a torrent that several sites
// list (or one site on several pages) is listed once. Used by the searching thread alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace mf {

class SeenTorrents {
 public:
  SeenTorrents();

  // The number of the row that printed the torrent `infoHash` (40 hex digits) first; 0 when
  // none did, and then row `number` is noted as its first. A text that is no info-hash is never
  // seen. Constant time: the key is the hash's 20 bytes, not its text.
  long FirstRow(std::string_view infoHash, long number);

  std::size_t Count() const { return rows_.size(); }

 private:
  using Key = std::array<std::uint8_t, 20>;
  // The hashes come from the sites, so the bucket of a key is keyed with a random seed of the
  // process: a site cannot send hashes that all fall into one bucket.
  struct KeyHash {
    std::uint64_t seed;
    std::size_t operator()(const Key& key) const;
  };
  std::unordered_map<Key, long, KeyHash> rows_;
};

}  // namespace mf
