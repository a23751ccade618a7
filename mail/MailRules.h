#pragma once

#include <QString>
#include <QStringList>

#include "platform/Database.h"

namespace zel {

class TMimeDecorder;

// What the mail rules of an account decide for one received message.
struct TRuleOutcome {
    bool discard = false;
    QString targetFolder; // empty: the account's incoming folder
    QStringList copyFolders;
    QStringList forwardAddresses;
    qint64 colour = -1; // -1: none
    bool markRead = false;
};

// The rules of the account applied to a decoded message. Rules are not evaluated yet: every message
// gets the empty outcome and lands in the account's incoming folder.
TRuleOutcome ApplyMailRules(Database& db, const QString& accountId, const TMimeDecorder& message);

} // namespace zel
