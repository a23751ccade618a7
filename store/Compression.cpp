#include "store/Compression.h"

#include <QtEndian>
#include <libdeflate.h>
#include <memory>
#include <zlib.h>

namespace zel {

QByteArray CompressStream(const QByteArray& data) {
    if (data.isEmpty()) return {};
    uLongf bound = compressBound(uLong(data.size()));
    QByteArray out;
    out.resize(qsizetype(4 + bound));
    qToLittleEndian<quint32>(quint32(data.size()), out.data());
    if (compress2(reinterpret_cast<Bytef*>(out.data() + 4), &bound, reinterpret_cast<const Bytef*>(data.constData()),
                  uLong(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        return {};
    out.resize(qsizetype(4 + bound));
    return out;
}

QByteArray DecompressStream(const QByteArray& data, bool* ok) {
    if (ok) *ok = false;
    if (data.isEmpty()) {
        if (ok) *ok = true;
        return {};
    }
    if (data.size() < 6) return data;
    const quint32 len = qFromLittleEndian<quint32>(data.constData());
    // A length far beyond what zlib can reach from this input is not ours (zlib's ratio tops at ~1032:1).
    if (quint64(len) > quint64(data.size()) * 1100 + 64) return data;
    QByteArray out;
    out.resize(qsizetype(len));
    // libdeflate expands zlib streams well over twice as fast as zlib; searches inflate every document.
    struct Free {
        void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    thread_local std::unique_ptr<libdeflate_decompressor, Free> fast(libdeflate_alloc_decompressor());
    if (fast) {
        size_t got = 0;
        const auto rc = libdeflate_zlib_decompress(fast.get(), data.constData() + 4, size_t(data.size() - 4),
                                                   out.data(), size_t(len), &got);
        if (rc == LIBDEFLATE_SUCCESS && got == len) {
            if (ok) *ok = true;
            return out;
        }
        // Anything else (a stream longer than announced, damage) is judged by zlib below.
    }
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return data;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData() + 4));
    zs.avail_in = uInt(data.size() - 4);
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(len);
    int rc = inflate(&zs, Z_FINISH);
    const bool complete = (rc == Z_STREAM_END && zs.total_out == len) ||
                          // An announced length shorter than the stream: take exactly that many bytes.
                          (rc == Z_BUF_ERROR && zs.avail_out == 0 && zs.total_out == len);
    inflateEnd(&zs);
    if (!complete) return data;
    if (ok) *ok = true;
    return out;
}

} // namespace zel
