#include "mail/MailRules.h"

#include "mail/TMimeDecorder.h"

namespace zel {

TRuleOutcome ApplyMailRules(Database& db, const QString& accountId, const TMimeDecorder& message) {
    Q_UNUSED(db);
    Q_UNUSED(accountId);
    Q_UNUSED(message);
    return {};
}

} // namespace zel
