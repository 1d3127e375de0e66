// Site layer: the rows of an XML answer (an RSS or Atom feed), found by paths of element names.
//
// A path is element names separated by "/", each matched as written (a prefixed name such as
// "nyaa:seeders" included); the rows' path starts at the root ("/rss/channel/item") and takes
// every element it leads to, a field's path starts at its row ("title", "enclosure/@url") and
// takes the first, a final "@name" taking an attribute. Nothing else: a path costs time linear in
// the document, whatever it says.
//
// The answer is untrusted: no DTD is processed, no entity but XML's five is expanded and nothing
// is fetched; CDATA and character references arrive decoded. Parsing never throws, and a document
// that is not XML, or a path that leads nowhere, gives a problem. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "site/json_rows.h"
#include "site/site_definition.h"

namespace mf {

// The rows of `utf8` that `site`'s paths find, in the same form as a JSON answer's: a field's
// text is the text of the element it leads to (its text and CDATA, not its elements'), or the
// attribute's value; empty when it leads nowhere. A path whose last element is missing where
// its parent exists (a feed without items) gives no rows and no problem.
JsonRows ReadXmlRows(std::string_view utf8, const SiteDefinition& site);

// Why `path` is no element path ("an element name cannot be empty", ...); empty when it is one.
// `fromRoot`: the rows' path, which starts with "/" and takes no attribute; else a field's,
// which does not start with "/".
std::string XmlPathProblem(std::string_view path, bool fromRoot);

// What a probe says of an XML answer that gave no rows: "the root element is <rss>, with
// channel" (its children's names, the first few), or why it does not parse. Printable.
std::string XmlShape(std::string_view utf8);

}  // namespace mf
