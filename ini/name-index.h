// The hash table that finds sections and keys of an INI file by name: 32-bit values (section
// numbers, line offsets) under 32-bit hashes of names without regard to ASCII letter case, open
// addressing with linear probing. It holds no names: the caller compares them, through the
// values. Only additions are needed, and a shift of the offsets behind an edit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ini {

// No value: what Find answers when nothing matches.
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// FNV-1a over the lower-cased bytes, then a final mix so that the low bits spread well.
std::uint32_t HashNoCase(std::string_view s, std::uint32_t seed);

class NameIndex {
 public:
  // The first value under `hash` for which `match(value)` holds, or kNone.
  template <typename Match>
  std::uint32_t Find(std::uint32_t hash, const Match& match) const {
    if (slots_.empty()) return kNone;
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.value == kNone) return kNone;
      if (slot.hash == hash && match(slot.value)) return slot.value;
    }
  }

  void Add(std::uint32_t hash, std::uint32_t value);

  // Adds `delta` (modulo 2^32) to every value from `from` on.
  void Shift(std::uint32_t from, std::uint32_t delta);

  void Clear();

 private:
  struct Slot {
    std::uint32_t hash;
    std::uint32_t value;
  };

  void Place(std::uint32_t hash, std::uint32_t value);
  void Grow();

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};

}  // namespace ini
