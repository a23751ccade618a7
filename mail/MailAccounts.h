#pragma once

#include <QList>
#include <QString>

#include "mail/TMailReg.h"
#include "platform/Database.h"

namespace zel {

// The mail engine's own tables next to mailinfo and mail: security choices per account, the spool of
// downloaded but not yet converted messages, and the message ids seen per account. Made at first use,
// in both dialects; cheap after the first call on a connection.
bool EnsureMailTables(Database& db);

// The account with that name owned by the user; an empty record when there is none.
TMailReg LoadAccount(Database& db, const QString& name, const QString& userCode);
TMailReg LoadAccountById(Database& db, const QString& id);
// The user's accounts in id order.
QList<TMailReg> ListAccounts(Database& db, const QString& userCode);
// Stores a new account for the user. An incoming folder "0" (or empty) becomes the live root folder
// "Inbox of NAME", made when missing; rec.incomingId and rec.id receive the ids. Returns the new id,
// empty on failure (nothing stored then).
QString InsertAccount(Database& db, TMailReg& rec, const QString& userCode);
// Writes every field of the record to the account row id; the inbox marks of the old and the new
// incoming folder follow.
bool UpdateAccount(Database& db, const TMailReg& rec, const QString& id);
// Removes the account; its incoming folder and documents stay, the folder's inbox mark follows.
bool DeleteAccount(Database& db, const QString& id);
// Another account (id excluded; "0" for none) of any user has that name.
bool IsAccountNameTaken(Database& db, const QString& id, const QString& name);

} // namespace zel
