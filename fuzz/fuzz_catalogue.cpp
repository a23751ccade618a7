// libFuzzer harness for the datalink.dat reader: expansion, table parsing, field text decoding.
#include "store/Catalogue.h"
#include "store/Compression.h"
#include "store/FieldText.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<zel::CatalogueEntry> entries;
    if (zel::Catalogue::parse(zel::DecompressStream(raw), entries)) {
        for (const zel::CatalogueEntry& e : entries) {
            (void)e.nameText();
            (void)zel::BuildConnectionString(e);
        }
        // What was read must write back to a table that reads the same.
        QList<zel::CatalogueEntry> again;
        if (!zel::Catalogue::parse(zel::Catalogue::serialize(entries), again) || again.size() != entries.size())
            __builtin_trap();
    }
    (void)zel::ReadFieldText(raw);
    return 0;
}
