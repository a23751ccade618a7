#include "support/SearchSupport.h"

#include "store/Nodes.h"

#include <gtest/gtest.h>

namespace zel::test {

QList<qint64> SearchRun::ids() const {
    QList<qint64> out;
    for (const FoundResult& r : results)
        out << r.id;
    return out;
}

SearchRun RunSearch(const QString& connectionString, const TSearchCriteria& c,
                    const std::function<void(TSearchEngine&, int)>& onResult) {
    SearchRun run;
    TSearchEngine engine(connectionString, c);
    QObject::connect(&engine, &TSearchEngine::resultFound, &engine,
                     [&](int number, qint64 id, const QString& caption, const QString& address) {
                         run.results << FoundResult{number, id, caption, address};
                         if (onResult) onResult(engine, number);
                     });
    QObject::connect(&engine, &TSearchEngine::pageFlushed, &engine, [&](const QString& html) { run.pages << html; });
    QObject::connect(&engine, &TSearchEngine::progressVisible, &engine, [&](bool on) {
        if (on) run.progressShown = true;
    });
    QObject::connect(&engine, &TSearchEngine::progressPosition, &engine, [&](int p) { run.positions << p; });
    QObject::connect(&engine, &TSearchEngine::scanStarted, &engine, [&] { run.scanStarted = true; });
    QObject::connect(&engine, &TSearchEngine::searchFinished, &engine, [&](int, bool) { run.finished = true; });
    engine.run();
    run.stats = engine.stats();
    return run;
}

qint64 AddNode(Database& db, qint64 parent, const QString& caption, const QString& content, const QString& keywords) {
    Tinfoproperty rec;
    rec.caption = caption;
    rec.content = content;
    const QString id = InsertNode(db, rec, QString::number(parent));
    EXPECT_FALSE(id.isEmpty()) << db.lastError().toStdString();
    if (!keywords.isEmpty()) {
        EXPECT_TRUE(db.exec(QStringLiteral("update info set key_word=:k where id=:id"),
                            {{QStringLiteral(":k"), keywords}, {QStringLiteral(":id"), id.toLongLong()}}));
    }
    if (parent != 0)
        db.exec(QStringLiteral("update info set haschild='Y' where id=:id"), {{QStringLiteral(":id"), parent}});
    return id.toLongLong();
}

void WriteContent(Database& db, qint64 id, const QString& text) {
    EXPECT_TRUE(db.exec(QStringLiteral("update info set content=:c where id=:id"),
                        {{QStringLiteral(":c"), StoredContent(text)}, {QStringLiteral(":id"), id}}));
}

} // namespace zel::test
