#pragma once

#include <QDateTime>
#include <QString>

#include "platform/Database.h"

namespace zel {

// The properties of one node, read and written together.
struct Tinfoproperty {
    QString caption;
    QDateTime created;
    QDateTime modified;
    QString actor;
    bool isProtected = false;
    bool hidden = false;
    QString keywords;
    qint32 sortNumber = 0;
    QString content; // initial content for insert; empty means the default document
    bool placeholder = false;
    bool inbox = false;
    qint32 mailId = 0;
    QString mailType;
    QString fullName;
    QString memo;
};

// Id path of a node ("/" for the root "0"), empty when there is no such node.
QString GetChildPath(Database& db, const QString& id);
// Name path of a node ("/" for the root), empty when there is no such node.
QString GetChildName(Database& db, const QString& id);
// Largest sort number among the live children, 0 when none or on failure.
int MaxSortNumber(Database& db, const QString& parentId);
// Inserts a node under the parent; returns its id, empty on failure.
QString InsertNode(Database& db, const Tinfoproperty& rec, const QString& parentId);
// The document a new node gets when no content is given.
QString DefaultDocument(bool placeholder, const QString& background);
// Text in the stored content form: UTF-16 LE with mark, CR LF line ends, compressed. size receives
// the uncompressed size in bytes.
QByteArray StoredContent(const QString& text, qint64* size = nullptr);

int CountLiveNodes(Database& db);
int CountLiveFolders(Database& db);

} // namespace zel
