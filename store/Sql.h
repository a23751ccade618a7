#pragma once

#include <QString>

namespace zel::sql {

// A row of info, mail or accessories is live unless it is in the recycle bin ("Y") or purged ("D").
inline QString live() {
    return QStringLiteral("(hasdelete is null or (hasdelete<>'Y' and hasdelete<>'D'))");
}
inline QString live(const QString& table) {
    return QStringLiteral("(%1.hasdelete is null or (%1.hasdelete<>'Y' and %1.hasdelete<>'D'))").arg(table);
}

} // namespace zel::sql
