#include "store/PasswordHash.h"

#include <QByteArray>
#include <QStringList>
#include <atomic>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace zel {

namespace {
const QString kMarker = QStringLiteral("{Rmqw}");
constexpr int kFormLength = 150;
const QString kHashPrefix = QStringLiteral("$pbkdf2-sha256$");
std::atomic<int> iterationsSetting{310000};

QByteArray pbkdf2(const QByteArray& password, const QByteArray& salt, int iterations) {
    QByteArray out(32, '\0');
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.constData()), int(salt.size()), iterations,
                          EVP_sha256(), int(out.size()), reinterpret_cast<unsigned char*>(out.data())) != 1)
        return {};
    return out;
}
} // namespace

QString ScramblePassword(const QString& text) {
    // The form holds at most 68 characters of text.
    const QString d = kMarker + text.left(68);
    QString form(kFormLength, QChar(1));
    form[0] = QChar(char16_t(d.size()));
    for (qsizetype k = 0; k < d.size(); ++k) {
        const char16_t c = d[k].unicode();
        form[2 * k + 1] = QChar(char16_t(c / 32));
        form[2 * k + 2] = QChar(char16_t(c % 32 + 1));
    }
    return form;
}

bool UnscramblePassword(const QString& form, QString* text) {
    if (form.size() != kFormLength) return false;
    for (qsizetype i = 1; i < form.size(); ++i)
        if (form[i].unicode() > 32) return false;
    const int dLen = form[0].unicode();
    if (dLen < 6 || 2 * dLen > kFormLength - 1) return false;
    QString out;
    for (int k = 6; k < dLen; ++k)
        out += QChar(char16_t(32 * form[2 * k + 1].unicode() + form[2 * k + 2].unicode() - 1));
    if (text) *text = out;
    return true;
}

void setPasswordHashIterations(int iterations) {
    iterationsSetting = iterations < 1 ? 1 : iterations;
}
int passwordHashIterations() {
    return iterationsSetting;
}

bool IsPasswordHash(const QString& stored) {
    return stored.startsWith(kHashPrefix);
}

QString HashPassword(const QString& password) {
    QByteArray salt(16, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), int(salt.size())) != 1) return {};
    const int it = iterationsSetting;
    const QByteArray hash = pbkdf2(password.toUtf8(), salt, it);
    if (hash.isEmpty()) return {};
    return kHashPrefix + QString::number(it) + u'$' + QString::fromLatin1(salt.toBase64()) + u'$' +
           QString::fromLatin1(hash.toBase64());
}

bool VerifyPassword(const QString& stored, const QString& typed, bool* needsRehash) {
    if (needsRehash) *needsRehash = false;
    if (IsPasswordHash(stored)) {
        const QStringList parts = stored.mid(kHashPrefix.size()).split(u'$');
        if (parts.size() != 3) return false;
        bool okNum = false;
        const int it = parts[0].toInt(&okNum);
        if (!okNum || it < 1) return false;
        const QByteArray salt = QByteArray::fromBase64(parts[1].toLatin1());
        const QByteArray expected = QByteArray::fromBase64(parts[2].toLatin1());
        const QByteArray got = pbkdf2(typed.toUtf8(), salt, it);
        if (got.isEmpty() || got.size() != expected.size()) return false;
        const bool ok = CRYPTO_memcmp(got.constData(), expected.constData(), size_t(got.size())) == 0;
        if (ok && needsRehash) *needsRehash = it < iterationsSetting;
        return ok;
    }
    QString plain;
    if (!UnscramblePassword(stored, &plain)) return false;
    if (plain != typed) return false;
    if (needsRehash) *needsRehash = true;
    return true;
}

} // namespace zel
