#include "ini/name-index.h"

#include "base/Ascii.h"

namespace ini {

std::uint32_t HashNoCase(std::string_view s, std::uint32_t seed) {
  std::uint32_t h = 2166136261u ^ (seed * 0x9E3779B9u);
  for (char c : s) {
    h ^= static_cast<unsigned char>(ascii::Lower(c));
    h *= 16777619u;
  }
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

void NameIndex::Add(std::uint32_t hash, std::uint32_t value) {
  if ((used_ + 1) * 4 > slots_.size() * 3) Grow();
  Place(hash, value);
  ++used_;
}

void NameIndex::Shift(std::uint32_t from, std::uint32_t delta) {
  for (Slot& slot : slots_) {
    if (slot.value != kNone && slot.value >= from) slot.value += delta;
  }
}

void NameIndex::Clear() {
  std::vector<Slot>().swap(slots_);
  used_ = 0;
}

void NameIndex::Place(std::uint32_t hash, std::uint32_t value) {
  std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].value != kNone) i = (i + 1) & mask;
  slots_[i] = Slot{hash, value};
}

void NameIndex::Grow() {
  std::vector<Slot> old(slots_.empty() ? 16 : slots_.size() * 2, Slot{0, kNone});
  old.swap(slots_);
  for (const Slot& slot : old) {
    if (slot.value != kNone) Place(slot.hash, slot.value);
  }
}

}  // namespace ini
