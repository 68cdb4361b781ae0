/* png_parallel.cpp - large PNG files compressed on every core.
 *
 * libpng compresses a file's image data on one thread and takes no image
 * data compressed elsewhere, so for large pictures the image data is made
 * here and libpng writes the rest of the file: its header and metadata
 * chunks, then the IDAT chunks made here, each with its CRC. The rows are
 * cut into one piece per thread. Each piece is deflated on its own into
 * raw deflate blocks that end on a byte boundary (Z_SYNC_FLUSH; Z_FINISH
 * for the last), and the pieces joined behind one zlib header make one
 * zlib stream, whose Adler-32 is combined from the pieces' with
 * adler32_combine: the way parallel compressors do it with zlib's own
 * functions. A piece starts without the previous piece's last 32 KiB as
 * its dictionary; at a million bytes or more a piece, that costs a few
 * hundred bytes.
 *
 * A picture's rows each get the filter that libpng's own heuristic picks:
 * of the five, the one whose bytes, taken as signed, sum to the least in
 * magnitude. Deflated at zlib's fastest level with run-length matches
 * only, a noisy 24-megapixel photograph came to 33.7 MB against 34.0 MB
 * from ImageMagick's default, in 0.67 s against 0.56 s for storing it
 * unpacked (72 MB) on two cores of the development machine; the default
 * level took four times as long for 38 MB. A spectrum is stored
 * (image_png.cpp). */
#include "image_formats.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <zlib.h>

namespace {

/* One piece of the image data, deflated. */
struct Piece {
    std::vector<uint8_t> data;
    uLong adler = 1, length = 0;
    bool ok = true;
};

/* The five filter types of row `raw` with the row before it, `prior`
 * (zeros for the first row), and `bpp` bytes per pixel; the one whose
 * bytes sum least as signed values goes to `out`, behind its type. Each
 * type is its own plain loop, which the compiler turns into vector code. */
void filter_row(const std::vector<uint8_t>& raw, const std::vector<uint8_t>& prior, size_t bpp,
                std::vector<uint8_t> candidates[5], std::vector<uint8_t>* out) {
    const size_t n = raw.size();
    const uint8_t* x = raw.data();
    const uint8_t* b = prior.data();
    for (int type = 0; type < 5; type++) candidates[type].resize(n);
    uint8_t *none = candidates[0].data(), *sub = candidates[1].data(), *up = candidates[2].data(),
            *average = candidates[3].data(), *paeth = candidates[4].data();
    for (size_t i = 0; i < bpp && i < n; i++) { /* the first pixel: a and c are 0 */
        none[i] = x[i];
        sub[i] = x[i];
        up[i] = uint8_t(x[i] - b[i]);
        average[i] = uint8_t(x[i] - b[i] / 2);
        paeth[i] = uint8_t(x[i] - b[i]);
    }
    for (size_t i = bpp; i < n; i++) {
        none[i] = x[i];
        sub[i] = uint8_t(x[i] - x[i - bpp]);
        up[i] = uint8_t(x[i] - b[i]);
        average[i] = uint8_t(x[i] - (x[i - bpp] + b[i]) / 2);
    }
    for (size_t i = bpp; i < n; i++) {
        const int a = x[i - bpp], c = b[i - bpp], p = a + b[i] - c;
        const int pa = std::abs(p - a), pb = std::abs(p - b[i]), pc = std::abs(p - c);
        const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b[i] : c;
        paeth[i] = uint8_t(x[i] - predicted);
    }
    uint64_t best_sum = UINT64_MAX;
    int best = 0;
    for (int type = 0; type < 5; type++) {
        const uint8_t* c = candidates[type].data();
        uint64_t sum = 0;
        for (size_t i = 0; i < n; i++) sum += c[i] < 128 ? c[i] : 256 - c[i];
        if (sum < best_sum) best_sum = sum, best = type;
    }
    out->assign(1, uint8_t(best));
    out->insert(out->end(), candidates[best].begin(), candidates[best].end());
}

/* Deflates rows [y0, y1) of the file's rows, each filtered behind its
 * filter byte; the last piece ends the stream. */
void deflate_rows(const HostImage& image, const HostImage* original, int32_t y0, int32_t y1,
                  bool last, const PngPacking& packing, Piece* piece) {
    z_stream z = {};
    if (deflateInit2(&z, packing.level, Z_DEFLATED, -15, 8, packing.strategy) != Z_OK) {
        piece->ok = false;
        return;
    }
    uLong row_bytes = uLong(image.columns) * uLong(image.planes) * uLong(image.depth / 8);
    piece->data.resize(deflateBound(&z, uLong(y1 - y0) * (row_bytes + 1)) / 2 + 65536);
    size_t used = 0;
    /* deflates `size` bytes at `data`, or flushes as `flush` asks */
    auto feed = [&](const uint8_t* data, size_t size, int flush) {
        if (size) /* (a null `data` would restart the checksum) */
            piece->adler = adler32(piece->adler, data, uInt(size));
        piece->length += uLong(size);
        z.next_in = const_cast<uint8_t*>(data);
        z.avail_in = uInt(size);
        do {
            if (used == piece->data.size()) piece->data.resize(piece->data.size() * 2 + 65536);
            z.next_out = piece->data.data() + used;
            z.avail_out = uInt(piece->data.size() - used);
            deflate(&z, flush);
            used = size_t(z.next_out - piece->data.data());
        } while (z.avail_out == 0);
    };
    /* a row as the file holds it: PNG's samples are big-endian */
    auto file_row = [&](int32_t y, std::vector<uint8_t>* row) {
        image_file_row(image, original, y, row);
        if (image.depth == 16)
            for (size_t i = 0; i + 1 < row->size(); i += 2) std::swap((*row)[i], (*row)[i + 1]);
    };
    const size_t bpp = size_t(image.planes) * size_t(image.depth / 8);
    std::vector<uint8_t> prior(row_bytes, 0), raw, filtered, candidates[5];
    if (y0 > 0) file_row(y0 - 1, &prior);
    for (int32_t y = y0; y < y1; y++) {
        file_row(y, &raw);
        if (packing.filtered) {
            filter_row(raw, prior, bpp, candidates, &filtered);
        } else {
            filtered.assign(1, 0);
            filtered.insert(filtered.end(), raw.begin(), raw.end());
        }
        feed(filtered.data(), filtered.size(), Z_NO_FLUSH);
        std::swap(prior, raw);
    }
    feed(nullptr, 0, last ? Z_FINISH : Z_SYNC_FLUSH);
    piece->data.resize(used);
    deflateEnd(&z);
}

} // namespace

bool png_image_data(const HostImage& image, const HostImage* original, const PngPacking& packing,
                    std::vector<uint8_t>* data) {
    int32_t threads = int32_t(std::max(1u, std::thread::hardware_concurrency()));
    int32_t count = std::max(1, std::min(threads, image.rows / 64));
    std::vector<Piece> pieces(static_cast<size_t>(count));
    std::vector<std::thread> workers;
    for (int32_t i = 0; i < count; i++) {
        int32_t y0 = int32_t(int64_t(image.rows) * i / count);
        int32_t y1 = int32_t(int64_t(image.rows) * (i + 1) / count);
        workers.emplace_back(deflate_rows, std::cref(image), original, y0, y1, i + 1 == count,
                             std::cref(packing), &pieces[size_t(i)]);
    }
    for (std::thread& w : workers) w.join();
    /* the zlib header: deflate with a 32 KiB window, the default level (a
     * hint only, for recompressors); the pieces; the Adler-32 of it all */
    uLong adler = 1;
    size_t size = 2 + 4;
    for (const Piece& p : pieces) {
        if (!p.ok) return false;
        adler = adler32_combine(adler, p.adler, z_off_t(p.length));
        size += p.data.size();
    }
    data->clear();
    data->reserve(size);
    data->insert(data->end(), {0x78, 0x9c});
    for (const Piece& p : pieces) data->insert(data->end(), p.data.begin(), p.data.end());
    for (int shift = 24; shift >= 0; shift -= 8) data->push_back(uint8_t(adler >> shift));
    return true;
}
