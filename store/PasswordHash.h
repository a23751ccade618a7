#pragma once

#include <QString>

namespace zel {

// Scrambled form of a recoverable password: 150 characters (see Users.cpp). Used where the value must
// be read back: the remembered login and mail-account passwords.
QString ScramblePassword(const QString& text);
bool UnscramblePassword(const QString& form, QString* text);

// Salted, slow hash for login and document passwords:
// "$pbkdf2-sha256$<iterations>$<salt base64>$<hash base64>" (under 100 characters).
QString HashPassword(const QString& password);
bool IsPasswordHash(const QString& stored);
// Checks a typed password against a stored value, hashed or in the older scrambled form.
// needsRehash is set when the stored value is not a current hash and should be replaced.
bool VerifyPassword(const QString& stored, const QString& typed, bool* needsRehash = nullptr);
// Hash cost; the stored value records it, so changing it never breaks verification.
void setPasswordHashIterations(int iterations);
int passwordHashIterations();

} // namespace zel
