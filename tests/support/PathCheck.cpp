#include "support/PathCheck.h"

#include <QHash>

namespace zel::test {

QStringList PathProblems(Database& db) {
    struct Row {
        qint64 parent;
        QString fullpath, fullname, caption, state;
    };
    QHash<qint64, Row> rows;
    {
        Query q(db, QStringLiteral("select id,parentnode,fullpath,fullname,caption,hasdelete from info"));
        if (!q.isActive()) return {QStringLiteral("cannot read info: %1").arg(q.error())};
        while (q.next())
            rows.insert(q.integer(0), {q.integer(1), q.text(2), q.text(3), q.text(4), q.text(5)});
    }
    QStringList problems;
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        const qint64 id = it.key();
        const Row& row = it.value();
        // Walk up to the root, collecting the expected paths from the top down.
        QString idPath = QStringLiteral("/"), namePath = QStringLiteral("/");
        QList<qint64> seen{id};
        bool broken = false;
        for (qint64 p = row.parent; p != 0;) {
            if (seen.contains(p)) {
                problems << QStringLiteral("node %1: its parent chain loops through %2").arg(id).arg(p);
                broken = true;
                break;
            }
            const auto parent = rows.constFind(p);
            if (parent == rows.cend()) {
                problems << QStringLiteral("node %1: parent %2 does not exist").arg(id).arg(p);
                broken = true;
                break;
            }
            seen << p;
            idPath.insert(1, QString::number(p) + u'/');
            namePath.insert(1, parent->caption + u'/');
            p = parent->parent;
        }
        if (broken) continue;
        if (row.fullpath != idPath)
            problems << QStringLiteral("node %1: fullpath %2, its parents give %3").arg(id).arg(row.fullpath, idPath);
        if (row.fullname != namePath)
            problems << QStringLiteral("node %1: fullname %2, its parents give %3").arg(id).arg(row.fullname, namePath);
        const auto parent = rows.constFind(row.parent);
        if (row.state != QStringLiteral("D") && parent != rows.cend() && parent->state == QStringLiteral("D"))
            problems << QStringLiteral("node %1 (state \"%2\") lies below purged node %3")
                            .arg(id)
                            .arg(row.state)
                            .arg(row.parent);
    }
    problems.sort();
    return problems;
}

} // namespace zel::test
