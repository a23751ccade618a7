// libFuzzer harness for the mail sending side's parsers and encoders: DNS replies (names with
// compression pointers, records of every kind), RFC 2047 header words and quoted-printable lines.
#include "mail/TDnsQuery.h"
#include "mail/TSmtpCli.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    zel::DnsReply reply;
    if (zel::ParseDnsReply(raw, reply)) {
        for (const zel::DnsRecord& r : reply.answer + reply.authority + reply.additional)
            if (r.name.size() > 255 || r.host.size() > 255) __builtin_trap();
    }
    const QByteArray words = raw.left(400);
    (void)zel::EncodeHeaderWords(words, "utf-8", "b");
    (void)zel::EncodeHeaderWords(words, "iso-8859-1", "q");
    for (const QByteArray& line : zel::QuotedPrintableLines(raw.split('\n')))
        if (line.size() > 76 || line.startsWith('-') || line.startsWith('.')) __builtin_trap();
    return 0;
}
