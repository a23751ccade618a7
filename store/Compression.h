#pragma once

#include <QByteArray>

namespace zel {

// The compressed stream form: 4-byte little-endian uncompressed length, then a zlib stream at the
// default level. An empty input stays empty.
QByteArray CompressStream(const QByteArray& data);
// Expands exactly the announced length. On any failure the data is returned as it was, so callers
// use it as stored; ok tells which happened.
QByteArray DecompressStream(const QByteArray& data, bool* ok = nullptr);

} // namespace zel
