#include "support/utf8_pattern.h"

#include <memory>
#include <string>

#include "support/encoding.h"

namespace mf {

Utf8Matches FindAllUtf8(const Text& pattern, const Text& text,
                        const platform::MatchBudget& budget) {
  platform::RegExpEngine engine;
  engine.SetIgnoreCase(true);
  engine.SetMultiline(true);
  engine.SetGlobal(true);
  engine.SetPattern(AnsiToUtf16(pattern));
  platform::RegExpEngine::Partial found =
      engine.ExecuteWithin(std::make_shared<const std::u16string>(Utf8ToUtf16(text)), budget);
  Utf8Matches result;
  result.status = found.status;
  result.matches.resize(found.matches.Count());
  for (std::size_t m = 0; m < found.matches.Count(); ++m) {
    std::vector<Text>& groups = result.matches[m];
    groups.reserve(found.matches.GroupCount() + 1);
    for (std::size_t g = 0; g <= found.matches.GroupCount(); ++g) {
      const auto group = found.matches.Group(m, g);
      groups.push_back(group ? Utf16ToUtf8(*group) : Text());
    }
  }
  return result;
}

std::optional<Text> RemoveAllUtf8(const Text& pattern, const Text& text,
                                  const platform::MatchBudget& budget,
                                  platform::RegExpStatus* status) {
  platform::RegExpEngine engine;
  engine.SetMultiline(true);
  engine.SetDotAll(true);
  engine.SetGlobal(true);
  engine.SetPattern(AnsiToUtf16(pattern));
  const std::optional<std::u16string> removed =
      engine.ReplaceWithin(Utf8ToUtf16(text), std::u16string_view(), budget);
  if (status != nullptr) {
    *status = engine.LastStatus();
  }
  if (!removed) {
    return std::nullopt;
  }
  return Utf16ToUtf8(*removed);
}

}  // namespace mf
