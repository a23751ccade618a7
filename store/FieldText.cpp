#include "store/FieldText.h"

#include "platform/CodePage.h"

namespace zel {

bool FieldLooksLikeUtf8(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    bool found = false;
    qsizetype i = 0;
    while (i < n - 1) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int follow;
        if (b >= 0xC0 && b <= 0xDF)
            follow = 1;
        else if (b >= 0xE0 && b <= 0xEF)
            follow = 2;
        else
            return false;
        if (i + follow >= n) return false;
        for (int k = 1; k <= follow; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
        found = true;
        i += follow + 1;
    }
    return found;
}

QString ReadFieldText(const QByteArray& bytes) {
    return FieldLooksLikeUtf8(bytes) ? QString::fromUtf8(bytes) : fromSystemCodePage(bytes);
}

} // namespace zel
