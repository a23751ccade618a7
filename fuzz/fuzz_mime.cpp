// libFuzzer harness for incoming mail: MIME tree, transfer decodings, parameters, header words,
// charsets, the document it becomes, and the reference rewrite over the parsed HTML.
#include "mail/MailCharset.h"
#include "mail/TMimeDecode.h"
#include "mail/TMimeDecorder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    zel::TMimeDecorder d;
    d.decode(raw);
    // Every kept part has a unique, non-empty name: the store replaces same-named attachments.
    for (qsizetype i = 0; i < d.parts.size(); ++i) {
        d.parts[i].attachmentId = QString::number(i + 1);
        if (d.parts[i].fileName.isEmpty()) __builtin_trap();
        for (qsizetype j = 0; j < i; ++j)
            if (d.parts[i].fileName.compare(d.parts[j].fileName, Qt::CaseInsensitive) == 0) __builtin_trap();
    }
    // Header values never carry a line break into a caption.
    if (d.subject.contains(u'\n') || d.subject.contains(u'\r')) __builtin_trap();
    (void)zel::RewriteMailHtml(d.html, d.parts);
    (void)zel::DecodeHeaderWords(raw.left(4096));
    (void)zel::LooksLikeUtf8(raw);
    QMap<QByteArray, QByteArray> params;
    (void)zel::TMimeDecode::parseParameters(raw.left(4096), &params);
    (void)zel::TMimeDecode::decodeQuotedPrintable(raw);
    (void)zel::TMimeDecode::decodeUuencode(raw);
    return 0;
}
