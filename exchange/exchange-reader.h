// The exchange file as an import reads it: one section after the other, every item it needs
// there, and a refusal that says where, as compilers do: "<file>:<line>: [<section>] <key>: <what
// is wrong>", the line being the key's, or its section's when the key is missing. Lines are
// counted only for a refusal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ExchangeReader {
 public:
  explicit ExchangeReader(const std::string& fileName) : fileName_(fileName) {}

  // The section of the reads that follow, and what a refusal of its absence adds.
  void Enter(const std::string& section, const std::string& whyNeeded);

  // The value of `key`; false when it is missing.
  bool Find(const char* key, std::string* value) const;

  // The value of a key that must be there, in a section that must be there: EIniFileException
  // "<file>: [<section>] is missing<why needed>" or "<file>:<line>: [<section>] <key> is missing".
  std::string Value(const char* key) const;

  // Refuses the item `key`: an error of `kind`, "<where>: <what>".
  [[noreturn]] void Refuse(const char* kind, const char* key, const std::string& what) const;

  // `value` of `key` as a number, or EConvertError.
  std::int32_t Integer(const char* key, const std::string& value) const;

  // A position or size: -32768 to 65535, which its field keeps as the low 16 bits (-10 is 65526).
  std::uint16_t Position(const char* key, const std::string& value) const;

  // A name, which must fit its field of `size` bytes.
  std::string Name(const char* key, std::size_t size) const;

 private:
  // "<file>:<line>: [<section>] <key>".
  std::string At(const char* key) const;

  std::string fileName_;
  std::string section_;
  std::string whyNeeded_;
};

// A default of the "Defaults" section, which only a marker needs: there or not, and its value.
struct DefaultValue {
  const char* key;
  bool present = false;
  std::uint16_t value = 0;
};
DefaultValue ReadDefault(const ExchangeReader& file, const char* key);

// A position or size of an entry; a "Default" marker takes the value of its default, which must
// be there.
std::uint32_t ReadSizeKey(const ExchangeReader& file, const char* keyName,
                          const DefaultValue& fallback);

// The sections of the entries at or beyond `count` ("Entry" in any letter case, then the index as
// an export writes it), in file order, each once.
std::vector<std::string> SectionsBeyond(const std::string& fileName, std::int32_t count);
