// The INI text's index when it follows a file that changed: whatever the change, the text and
// every answer are those of the changed file read afresh.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ini/document.h"
#include "ini/lines.h"

namespace {

// Every (section, key) of `text`, and some that are not there.
std::vector<std::pair<std::string, std::string>> Items(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> items = {{"none", "k"}, {"A", "none"}};
  std::string section;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t end = text.find_first_of("\r\n", p);
    if (end == std::string::npos) end = text.size();
    std::string_view line = ini::Trim(std::string_view(text).substr(p, end - p));
    std::string_view name;
    if (ini::IsSectionLine(line, &name)) {
      section = std::string(name);
    } else if (!line.empty()) {
      items.emplace_back(section, std::string(ini::KeyOf(line)));
    }
    p = end + 1;
  }
  return items;
}

// The answers of `doc` after following `before` to `after`, against `after` read afresh.
void ExpectFollows(const std::string& before, const std::string& after) {
  ini::Document followed;
  followed.Load(before);
  followed.Follow(after);
  ini::Document fresh;
  fresh.Load(after);
  ASSERT_EQ(followed.content, fresh.content) << before << " -> " << after;
  EXPECT_EQ(followed.file_size, fresh.file_size);
  EXPECT_EQ(followed.eol, fresh.eol);
  ASSERT_EQ(followed.sections.size(), fresh.sections.size()) << after;
  for (std::size_t i = 0; i < fresh.sections.size(); ++i) {
    EXPECT_EQ(followed.sections[i].begin, fresh.sections[i].begin) << after;
    EXPECT_EQ(followed.sections[i].last_entry, fresh.sections[i].last_entry) << after;
  }
  for (const auto& item : Items(after)) {
    std::string_view a, b;
    const bool found = fresh.Find(item.first, item.second, &b);
    EXPECT_EQ(followed.Find(item.first, item.second, &a), found)
        << item.first << "/" << item.second;
    if (found) {
      EXPECT_EQ(a, b) << after;
    }
  }
}

const std::string kText = "; mine\r\n[A]\r\na=1\r\nb=2\r\n\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n";

TEST(IniDocument, FollowingAChangeAnswersAsAFreshRead) {
  const std::string cases[] = {
      // Another run's item: a key line put in, a value changed longer, shorter, emptied.
      "; mine\r\n[A]\r\na=1\r\nb=2\r\nnew=5\r\n\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n",
      "; mine\r\n[A]\r\na=1\r\nb=2\r\n\r\n[B]\r\nc=3\r\nx=7\r\n[C]\r\nd=4\r\n",
      "; mine\r\n[A]\r\na=1\r\nb=222222\r\n\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n",
      "; mine\r\n[A]\r\na=\r\nb=2\r\n\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n",
      // Another program's appends, alone and behind another run's item.
      kText + "[D]\r\ne=5\r\n",
      "; mine\r\n[A]\r\na=1\r\nb=2\r\nnew=5\r\n\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n[D]\r\ne=5\r\n",
      // What the index cannot follow, read afresh: a section or a key that the section has put in,
      // a key renamed, a value that makes its line a section, lines gone, a byte-order mark.
      "; mine\r\n[A]\r\na=1\r\n[N]\r\nn=1\r\nb=2\r\n\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n",
      "; mine\r\n[A]\r\nb=0\r\na=1\r\nb=2\r\n\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n",
      "; mine\r\n[A]\r\nz=1\r\nb=2\r\n\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n",
      "; mine\r\n[A]\r\n[a=1]\r\nb=2\r\n\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n",
      "; mine\r\n[A]\r\na=1\r\n",
      "\xEF\xBB\xBF" + kText,
      "",
  };
  for (const std::string& after : cases) ExpectFollows(kText, after);
  // A text without a line end at its end, and one of a single line.
  ExpectFollows("[A]\r\na=1", "[A]\r\na=1\r\n[B]\r\nb=2\r\n");
  ExpectFollows("[A]\r", "[A]\r\n[B]\r\n");
}

// Random texts and random changes of every kind, the way runs and programs change a file.
TEST(IniDocument, FollowingRandomChangesAnswersAsAFreshRead) {
  std::mt19937 random(20261209);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const char* const lines[] = {"[A]", "[B]", "[b]", "k=1", "K=2", "j = 3", "x=[y]", "", "; c", "k"};
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::string> text;
    for (int i = pick(12); i > 0; --i) text.push_back(lines[pick(10)]);
    std::vector<std::string> changed = text;
    const int at = pick(static_cast<int>(changed.size()) + 1);
    switch (pick(4)) {
      case 0:
        changed.insert(changed.begin() + at, lines[pick(10)]);
        break;
      case 1:
        if (at < static_cast<int>(changed.size())) changed[at] += std::to_string(pick(100));
        break;
      case 2:
        if (at < static_cast<int>(changed.size())) changed.erase(changed.begin() + at);
        break;
      default:
        break;
    }
    if (pick(2) == 0) changed.push_back(lines[pick(10)]);
    auto join = [](const std::vector<std::string>& all) {
      std::string out;
      for (const std::string& line : all) out += line + "\r\n";
      return out;
    };
    ExpectFollows(join(text), join(changed));
  }
}

}  // namespace
