// The site menu's mark for a site whose last live check (magnet-finder-cli sites check, kept as
// site/check_record.h says) did not find it ok: a suffix on its entry's text. UI thread.
#pragma once

#include <QString>
#include <string>

#include "site/check_record.h"

namespace mf {

// "（上次检查：无法连接）" for a site whose last check failed; empty for one that was ok or was
// never checked here.
QString LastCheckMark(const std::string& id, const CheckRecords& checks);

}  // namespace mf
