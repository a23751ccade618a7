#pragma once

#include "platform/Database.h"
#include "store/Nodes.h"
#include "support/TestKb.h"

namespace zel::test {

// A knowledge base with the schema, plus helpers to build small trees.
class StoreTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        createSchema();
    }

    // Inserts a node and marks its parent as a folder, as the tree does.
    QString add(const QString& parent, const QString& caption) {
        Tinfoproperty rec;
        rec.caption = caption;
        rec.sortNumber = MaxSortNumber(db(), parent) + 1;
        const QString id = InsertNode(db(), rec, parent);
        EXPECT_FALSE(id.isEmpty()) << db().lastError().toStdString();
        if (parent != QStringLiteral("0")) RefreshHasChild(db(), parent);
        return id;
    }

    QString column(const QString& table, const QString& col, const QString& id) {
        return db()
            .scalar(QStringLiteral("select %1 from %2 where id=:id").arg(col, table),
                    {{QStringLiteral(":id"), id.toLongLong()}})
            .toString();
    }
    QString state(const QString& table, const QString& id) { return column(table, QStringLiteral("hasdelete"), id); }

    // Every row's paths agree with its parent's row, whatever the deletion states.
    void expectPathsConsistent() {
        Query q(db(), QStringLiteral("select id,parentnode,fullpath,fullname from info order by id"));
        int rows = 0;
        while (q.next()) {
            ++rows;
            const QString parent = QString::number(q.integer(1));
            EXPECT_EQ(q.text(2), GetChildPath(db(), parent)) << "fullpath of " << q.integer(0);
            EXPECT_EQ(q.text(3), GetChildName(db(), parent)) << "fullname of " << q.integer(0);
        }
        EXPECT_GT(rows, 0);
    }

    // Makes any update of one row of a table fail, as a broken disk or a lost server would.
    void injectUpdateFault(const QString& table, const QString& id) {
        if (db().dialect() == Dialect::Sqlite) {
            ASSERT_TRUE(db().exec(QStringLiteral("create trigger zel_fault_%1 before update on %1 when old.id=%2 "
                                                 "begin select raise(abort,'injected fault'); end")
                                      .arg(table, id)))
                << db().lastError().toStdString();
        } else {
            ASSERT_TRUE(db().exec(QStringLiteral("create or replace function zel_fault() returns trigger as $f$ "
                                                 "begin raise exception 'injected fault'; end $f$ language plpgsql")))
                << db().lastError().toStdString();
            ASSERT_TRUE(db().exec(QStringLiteral("create trigger zel_fault_%1 before update on %1 for each row when "
                                                 "(old.id=%2) execute function zel_fault()")
                                      .arg(table, id)))
                << db().lastError().toStdString();
        }
    }

    qint64 addMailRow(const QString& nodeId) {
        const qint64 mail = db().insert(QStringLiteral("insert into mail (subject) values ('s') returning id"));
        EXPECT_GT(mail, 0);
        db().exec(QStringLiteral("update info set mailid=:m where id=:id"),
                  {{QStringLiteral(":m"), mail}, {QStringLiteral(":id"), nodeId.toLongLong()}});
        return mail;
    }
};

} // namespace zel::test
