#include "app/site_check_mark.h"

namespace mf {

QString LastCheckMark(const std::string& id, const CheckRecords& checks) {
  const auto found = checks.find(id);
  if (found == checks.end()) {
    return QString();
  }
  switch (found->second.verdict) {
    case CheckVerdict::kOk:
      return QString();
    case CheckVerdict::kNoRows:
      return QStringLiteral("（上次检查：无结果）");
    case CheckVerdict::kUnreachable:
      return QStringLiteral("（上次检查：无法连接）");
    case CheckVerdict::kBlocked:
      return QStringLiteral("（上次检查：被拦截）");
    default:
      return QStringLiteral("（上次检查：非本站）");
  }
}

}  // namespace mf
