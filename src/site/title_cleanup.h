// Site layer: the closed set of steps that clean a title as a site's definition lists them, and
// the expansion of a definition's address templates. Pure functions; any thread.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/regexp_engine.h"
#include "site/site_definition.h"
#include "support/text_types.h"

namespace mf {

class regex;

// `title` after each of `steps` in order. The first remove step matches through `markup` (the
// caller's pattern object, compiled here); further remove steps through patterns of the calling
// thread. A remove step whose matching gives up leaves the empty text.
Text CleanTitle(const std::vector<CleanupStep>& steps, regex& markup, const Text& title);

// The same for the UTF-8 text of a site other than the built-in one: remove steps through the
// matcher's engine and limits (support/utf8_pattern.h), drawing on the page's `budget`. Nothing
// when a remove step's pattern gave up; `status` (when given) then says why.
std::optional<Text> CleanSiteText(const std::vector<CleanupStep>& steps, const Text& text,
                                  const platform::MatchBudget& budget,
                                  platform::RegExpStatus* status = nullptr);

// The character references of HTML in `text` decoded: &amp; &lt; &gt; &quot; &apos; &nbsp; and
// numeric ones (&#20013; &#x4E2D;), the latter to code page 936 ("?" for a character it lacks),
// or with `toUtf8` to UTF-8 (every character). A reference to a control character, or one not
// well formed, stays as written.
Text DecodeCharacterReferences(const Text& text, bool toUtf8 = false);

// `address` with each "{name}" replaced by its value; checked templates hold no other braces.
Text ExpandAddress(std::string_view address,
                   std::initializer_list<std::pair<std::string_view, Text>> values);

}  // namespace mf
