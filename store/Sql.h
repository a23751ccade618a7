#pragma once

#include <QList>
#include <QString>

#include "platform/Database.h"

namespace zel::sql {

// A row of info, mail or accessories is live unless it is in the recycle bin ("Y") or purged ("D").
inline QString live() {
    return QStringLiteral("(hasdelete is null or (hasdelete<>'Y' and hasdelete<>'D'))");
}
inline QString live(const QString& table) {
    return QStringLiteral("(%1.hasdelete is null or (%1.hasdelete<>'Y' and %1.hasdelete<>'D'))").arg(table);
}

// The text of a one-character flag column.
inline QString yn(bool b) {
    return b ? QStringLiteral("Y") : QStringLiteral("N");
}

// A node or row id as it travels between operations (decimal text, blanks around it allowed).
inline qint64 idValue(const QString& id) {
    return id.trimmed().toLongLong();
}

// Placeholders ":i0,:i1,..." for the ids of an "in (...)" list; the values go into params.
inline QString inList(const QList<qint64>& ids, Params& params) {
    QString out;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const QString name = QStringLiteral(":i%1").arg(i);
        if (i) out += u',';
        out += name;
        params.emplace_back(name, ids[i]);
    }
    return out;
}

// Id lists longer than this are sent in several statements (parameter limits of both databases).
constexpr qsizetype kIdChunk = 500;

// Runs a statement with "%1" standing for an id list, once per chunk of ids. True when all ran.
inline bool execForIds(Database& db, const QString& sqlTemplate, const QList<qint64>& ids) {
    for (qsizetype at = 0; at < ids.size(); at += kIdChunk) {
        Params p;
        const QString list = inList(ids.mid(at, kIdChunk), p);
        if (!db.exec(sqlTemplate.arg(list), p)) return false;
    }
    return true;
}

} // namespace zel::sql
