// stb_image_write's zlib compressor, rewritten to make the same choices faster:
// - each hash bucket is one cache line: the newest position, and per entry the low 16 bits of
//   its position and its fourth byte (stb grows an array of pointers), a megabyte in all at the
//   default quality;
// - a bucket is scanned newest first, so the scan stops at the window's edge or at a match
//   that cannot be beaten; stb keeps the last of equally long matches in oldest-first order,
//   which is the first found newest-first;
// - bytes are compared eight at a time (the first difference is the lowest set bit of XOR);
// - the lazy-match test only asks whether a candidate agrees on one byte more than the match in
//   hand, which needs its fourth byte to agree: one vector compare of a bucket's fourth bytes
//   settles most tests without a look at the window, and for matches under 8 bytes one masked
//   8-byte compare settles each candidate;
// - the buckets of the next position and of the position after a match are asked for as soon as
//   they are known, so that they arrive while the current one is still being matched;
// - Huffman codes come from tables, and bits leave with an 8-byte store per code and no branch,
//   into a buffer sized once.
// Without 8-byte loads in the platform's byte order the comparisons go byte by byte.
#include "write/png_compressor.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "base/simd.hpp"
#include "write/writer_memory.hpp"

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define KELVANE_PNG_WORD_COMPARE 1
#else
#define KELVANE_PNG_WORD_COMPARE 0
#endif

namespace kelvane {
namespace {

constexpr int hash_buckets = 16384;  // stb's stbiw__ZHASH
constexpr std::uint32_t window = 32768;
constexpr int max_match = 258;
// Buckets of up to 128 positions: 8 MiB. stb's own compressor takes the rarer higher qualities.
constexpr int max_fast_quality = 64;

// ---- the parse -------------------------------------------------------------------------------

// stb's hash of the 3 bytes at p, as a bucket number.
std::uint32_t bucket_of(const std::uint8_t *p) noexcept {
    std::uint32_t hash =
        std::uint32_t(p[0]) + (std::uint32_t(p[1]) << 8) + (std::uint32_t(p[2]) << 16);
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    return hash & (hash_buckets - 1);
}

#if KELVANE_PNG_WORD_COMPARE
std::uint64_t load64(const std::uint8_t *p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
#endif

// How many bytes a and b agree on, up to `limit` (both readable that far).
int match_length(const std::uint8_t *a, const std::uint8_t *b, int limit) noexcept {
    int n = 0;
#if KELVANE_PNG_WORD_COMPARE
    for (; n + 8 <= limit; n += 8)
        if (const std::uint64_t diff = load64(a + n) ^ load64(b + n))
            return n + (__builtin_ctzll(diff) >> 3);
#endif
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// Whether a and b agree on their first n bytes (n <= readable, both readable that far).
bool agree(const std::uint8_t *a, const std::uint8_t *b, int n, int readable) noexcept {
#if KELVANE_PNG_WORD_COMPARE
    if (n <= 8 && readable >= 8) {
        const std::uint64_t mask = n == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * n)) - 1;
        return ((load64(a) ^ load64(b)) & mask) == 0;
    }
#endif
    return match_length(a, b, n) == n;
}

// The positions stb's hash table would hold: per bucket, in insertion order, at most
// 2 * quality, the older half dropped when a full bucket takes another. Only their low 16 bits
// are kept, beside the full position of each bucket's newest entry, so that a bucket fits a
// cache line: walking a bucket newest first, each position is the previous one less the 16-bit
// difference. That is exact while consecutive entries lie less than 65536 apart, so an entry
// that arrives 32768 or more after the one before it marks every older entry of its bucket dead;
// those lie outside the window for every position to come. Each entry also keeps the byte 3
// after its position (its tag).
class Buckets {
  public:
    explicit Buckets(int quality) noexcept : quality_(quality), capacity_(2 * quality) {
        while (room_ < capacity_) room_ *= 2;
        stride_ = (sizeof(Head) + 3 * std::size_t(room_) + cache_line - 1) & ~(cache_line - 1);
    }
    ~Buckets() { writer_free(memory_); }
    bool allocate() noexcept {
        memory_ = writer_malloc(hash_buckets * stride_ + cache_line);
        if (!memory_) return false;
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(memory_);
        table_ = reinterpret_cast<std::uint8_t *>((at + cache_line - 1) & ~(cache_line - 1));
        for (std::uint32_t bucket = 0; bucket < hash_buckets; ++bucket) *head(bucket) = Head{};
        return true;
    }
    void prefetch(std::uint32_t bucket) const noexcept {
#if defined(__GNUC__)
        __builtin_prefetch(head(bucket));
#else
        (void)bucket;
#endif
    }
    // Calls visit(p) for the bucket's positions p with p + reach > i, newest first, until visit
    // returns true.
    template <class Visit>
    void visit_newest_first(std::uint32_t bucket, std::uint32_t i, std::uint32_t reach,
                            Visit visit) const noexcept {
        const Head &b = *head(bucket);
        const std::uint16_t *low = lows(bucket);
        int k = b.count - 1;
        if (k < b.live) return;
        for (std::uint32_t p = b.position; p + reach > i && !visit(p);
             p -= std::uint16_t(low[k + 1] - low[k]))
            if (--k < b.live) return;
    }
    // Whether a live entry of the bucket has `tag` as its tag (in or out of the window).
    bool any_tagged(std::uint32_t bucket, std::uint8_t tag) const noexcept {
        const Head &b = *head(bucket);
        const std::uint8_t *t = tags(bucket);
#if KELVANE_SIMD_SSE2
        const __m128i wanted = _mm_set1_epi8(char(tag));
        for (int k = 0; k < b.count; k += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + k));
            std::uint32_t hits = std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, wanted)));
            if (b.count - k < 16) hits &= (1u << (b.count - k)) - 1;
            if (b.live > k) hits &= b.live - k >= 16 ? 0 : ~((1u << (b.live - k)) - 1);
            if (hits) return true;
        }
        return false;
#else
        for (int k = b.live; k < b.count; ++k)
            if (t[k] == tag) return true;
        return false;
#endif
    }
    void add(std::uint32_t bucket, std::uint32_t position, std::uint8_t tag) noexcept {
        Head &b = *head(bucket);
        std::uint16_t *low = lows(bucket);
        std::uint8_t *t = tags(bucket);
        int n = b.count;
        if (n > 0 && position - b.position >= window) b.live = std::uint8_t(n);
        if (n == capacity_) {
            std::memmove(low, low + quality_, std::size_t(quality_) * sizeof(std::uint16_t));
            std::memmove(t, t + quality_, std::size_t(quality_));
            n = quality_;
            b.live = std::uint8_t(b.live > quality_ ? b.live - quality_ : 0);
        }
        low[n] = std::uint16_t(position);
        t[n] = tag;
        b.count = std::uint8_t(n + 1);
        b.position = position;
    }

  private:
    static constexpr std::uintptr_t cache_line = 64;
    struct Head {
        std::uint32_t position = 0;  // of the newest entry
        std::uint8_t count = 0;      // entries
        std::uint8_t live = 0;       // the entries below this index are dead
        std::uint16_t unused = 0;
    };
    Head *head(std::uint32_t bucket) const noexcept {
        return reinterpret_cast<Head *>(table_ + bucket * stride_);
    }
    std::uint8_t *tags(std::uint32_t bucket) const noexcept {
        return table_ + bucket * stride_ + sizeof(Head);
    }
    std::uint16_t *lows(std::uint32_t bucket) const noexcept {
        return reinterpret_cast<std::uint16_t *>(tags(bucket) + room_);
    }

    const int quality_, capacity_;
    int room_ = 16;  // entries a bucket has room for: a power of 2 at or above its capacity
    std::size_t stride_;
    void *memory_ = nullptr;
    std::uint8_t *table_ = nullptr;
};

// ---- the codes -------------------------------------------------------------------------------

struct Code {
    std::uint32_t bits;  // to be written least significant bit first
    std::uint32_t length;
};

constexpr std::uint32_t reversed(std::uint32_t code, std::uint32_t length) {
    std::uint32_t r = 0;
    for (std::uint32_t i = 0; i < length; ++i) r = (r << 1) | ((code >> i) & 1);
    return r;
}

// The fixed Huffman code of a literal/length symbol.
constexpr Code fixed_code(int symbol) {
    if (symbol <= 143) return {reversed(0x30 + std::uint32_t(symbol), 8), 8};
    if (symbol <= 255) return {reversed(0x190 + std::uint32_t(symbol - 144), 9), 9};
    if (symbol <= 279) return {reversed(std::uint32_t(symbol - 256), 7), 7};
    return {reversed(0xC0 + std::uint32_t(symbol - 280), 8), 8};
}

constexpr std::array<int, 30> length_base = {3,  4,  5,  6,   7,   8,   9,   10,  11,  13,
                                             15, 17, 19, 23,  27,  31,  35,  43,  51,  59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258, 259};
constexpr std::array<int, 29> length_extra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 31> distance_base = {
    1,   2,   3,   4,   5,    7,    9,    13,   17,   25,   33,   49,    65,    97,    129,  193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32768};
constexpr std::array<int, 30> distance_extra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr std::array<Code, 256> literal_codes = [] {
    std::array<Code, 256> codes{};
    for (int b = 0; b < 256; ++b) codes[std::size_t(b)] = fixed_code(b);
    return codes;
}();

// A match length's symbol and extra bits, as one code.
constexpr std::array<Code, max_match + 1> length_codes = [] {
    std::array<Code, max_match + 1> codes{};
    for (int length = 3; length <= max_match; ++length) {
        int j = 0;
        while (length > length_base[std::size_t(j) + 1] - 1) ++j;
        const Code symbol = fixed_code(257 + j);
        const std::uint32_t extra = std::uint32_t(length - length_base[std::size_t(j)]);
        codes[std::size_t(length)] = {symbol.bits | (extra << symbol.length),
                                      symbol.length + std::uint32_t(length_extra[std::size_t(j)])};
    }
    return codes;
}();

// The distance code of each distance, 1 to 32767.
constexpr std::array<std::uint8_t, window> distance_symbols = [] {
    std::array<std::uint8_t, window> symbols{};
    int j = 0;
    for (int d = 1; d < int(window); ++d) {
        while (d > distance_base[std::size_t(j) + 1] - 1) ++j;
        symbols[std::size_t(d)] = std::uint8_t(j);
    }
    return symbols;
}();

// The 5-bit codes of the distance symbols, written reversed.
constexpr std::array<std::uint32_t, 30> distance_bits = [] {
    std::array<std::uint32_t, 30> bits{};
    for (std::uint32_t j = 0; j < 30; ++j) bits[j] = reversed(j, 5);
    return bits;
}();

Code distance_code(std::uint32_t distance) noexcept {
    const std::size_t j = distance_symbols[distance];
    const std::uint32_t extra = distance - std::uint32_t(distance_base[j]);
    return {distance_bits[j] | (extra << 5), 5 + std::uint32_t(distance_extra[j])};
}

// Bits, least significant first. Each put stores 8 bytes and moves on by the whole bytes it
// holds, so that no branch depends on the data; the buffer has 8 bytes of room past the end.
class BitWriter {
  public:
    explicit BitWriter(std::uint8_t *out) noexcept : out_(out) {}
    void put(std::uint64_t bits, std::uint32_t count) noexcept {  // count <= 56
        pending_ |= bits << held_;
        held_ += count;
        store64(out_, pending_);
        out_ += held_ >> 3;
        pending_ >>= held_ & ~7u;
        held_ &= 7;
    }
    // Writes what is pending, padded with 0 bits to a byte; returns the end.
    std::uint8_t *finish() noexcept {
        if (held_ > 0) *out_++ = std::uint8_t(pending_);
        return out_;
    }

  private:
    static void store64(std::uint8_t *p, std::uint64_t v) noexcept {
#if KELVANE_PNG_WORD_COMPARE
        std::memcpy(p, &v, 8);
#else
        for (int i = 0; i < 8; ++i) p[i] = std::uint8_t(v >> (8 * i));
#endif
    }

    std::uint8_t *out_;
    std::uint64_t pending_ = 0;
    std::uint32_t held_ = 0;  // below 8 between puts
};

// ---- the stream ------------------------------------------------------------------------------

// Compresses data[0, n) as one fixed-Huffman block, making stb's choices.
void compress_block(const std::uint8_t *data, int n, Buckets &buckets, BitWriter &out) noexcept {
    out.put(3, 3);  // BFINAL = 1, BTYPE = 1: fixed codes
    int i = 0;
    // The bucket of position i; the next position's, and that of the position after a match, are
    // fetched from memory while i is matched.
    std::uint32_t bucket = n > 3 ? bucket_of(data) : 0;
    while (i < n - 3) {
        const std::uint32_t here = std::uint32_t(i);
        const std::uint32_t next = bucket_of(data + i + 1);
        buckets.prefetch(next);
        const int limit = std::min(n - i, max_match);
        int best = 2;
        std::uint32_t from = 0;
        buckets.visit_newest_first(bucket, here, window, [&](std::uint32_t p) {
            // Only a match that agrees on the byte at `best` can be longer than the best.
            if (data[p + std::uint32_t(best)] != data[i + best]) return false;
            const int length = match_length(data + p, data + i, limit);
            if (length <= best) return false;
            best = length, from = p;
            return length == limit;
        });
        std::uint32_t after = 0;
        if (best >= 3 && i + best < n - 3) {
            after = bucket_of(data + i + best);
            buckets.prefetch(after);
        }
        buckets.add(bucket, here, data[i + 3]);
        bool match = best >= 3;
        // Lazy matching: the byte goes out as a literal if the next position has a longer match.
        const int next_limit = std::min(n - i - 1, max_match);
        // Longer than `best` (3 or more) means agreeing on the fourth byte, the entries' tag.
        if (match && best < next_limit && buckets.any_tagged(next, data[i + 4]))
            buckets.visit_newest_first(next, here, window - 1, [&](std::uint32_t p) {
                if (!agree(data + p, data + i + 1, best + 1, next_limit)) return false;
                match = false;
                return true;
            });
        if (match) {
            const Code length = length_codes[std::size_t(best)];
            const Code distance = distance_code(here - from);
            i += best;
            bucket = after;
            out.put(length.bits | (std::uint64_t(distance.bits) << length.length),
                    length.length + distance.length);
        } else {
            out.put(literal_codes[data[i]].bits, literal_codes[data[i]].length);
            ++i;
            bucket = next;
        }
    }
    for (; i < n; ++i) out.put(literal_codes[data[i]].bits, literal_codes[data[i]].length);
    const Code end_of_block = fixed_code(256);
    out.put(end_of_block.bits, end_of_block.length);
}

// The data as stored blocks of at most 32767 bytes, as stb writes them; returns the end.
std::uint8_t *store(const std::uint8_t *data, int n, std::uint8_t *out) noexcept {
    for (int j = 0; j < n;) {
        const int length = std::min(n - j, 32767);
        *out++ = n - j == length;  // BFINAL on the last block; BTYPE 0
        *out++ = std::uint8_t(length), *out++ = std::uint8_t(length >> 8);
        *out++ = std::uint8_t(~length), *out++ = std::uint8_t(~length >> 8);
        std::memcpy(out, data + j, std::size_t(length));
        out += length;
        j += length;
    }
    return out;
}

constexpr std::uint32_t adler_modulus = 65521;
constexpr std::size_t adler_block = 5552;  // the most bytes before the sums could overflow

#if KELVANE_SIMD_SSE2
std::uint32_t sum_lanes(__m128i v) noexcept {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
    return std::uint32_t(_mm_cvtsi128_si32(v));
}

// The sums of a block whose length is a multiple of 16: 16 bytes a step, each byte weighted by
// how many of the block's bytes from it on are still to come.
void adler_sums(const std::uint8_t *p, std::size_t n, std::uint32_t &s1,
                std::uint32_t &s2) noexcept {
    const __m128i zero = _mm_setzero_si128();
    const __m128i first_weights = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i last_weights = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    __m128i sum = zero, weighted = zero, earlier = zero;
    for (std::size_t i = 0; i < n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        earlier = _mm_add_epi32(earlier, sum);  // the sums of the steps before this one
        sum = _mm_add_epi32(sum, _mm_sad_epu8(bytes, zero));
        weighted =
            _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), first_weights));
        weighted =
            _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), last_weights));
    }
    const std::uint64_t s2_wide = std::uint64_t(s2) + std::uint64_t(s1) * n +
                                  16 * std::uint64_t(sum_lanes(earlier)) + sum_lanes(weighted);
    s1 = (s1 + sum_lanes(sum)) % adler_modulus;
    s2 = std::uint32_t(s2_wide % adler_modulus);
}
#endif

std::uint32_t adler32(const std::uint8_t *p, std::size_t n) noexcept {
    std::uint32_t s1 = 1, s2 = 0;
#if KELVANE_SIMD_SSE2
    for (std::size_t block; (block = std::min(n, adler_block) & ~std::size_t(15)) > 0;
         p += block, n -= block)
        adler_sums(p, block, s1, s2);
#endif
    while (n > 0) {
        const std::size_t block = std::min(n, adler_block);
        for (std::size_t i = 0; i < block; ++i) s1 += p[i], s2 += s1;
        s1 %= adler_modulus, s2 %= adler_modulus;
        p += block, n -= block;
    }
    return s2 << 16 | s1;
}

}  // namespace

unsigned char *png_zlib_compress(unsigned char *data, int data_len, int *out_len,
                                 int quality) noexcept {
    if (quality < 5) quality = 5;
    if (quality > max_fast_quality) return stock_zlib_compress(data, data_len, out_len, quality);
    const std::uint64_t n = std::uint64_t(data_len < 0 ? 0 : data_len);
    // A byte costs at most 9 bits (a literal); stb stores the data instead when that is smaller.
    const std::uint64_t stored_size = n + 2 + (n + 32766) / 32767 * 5;
    const std::uint64_t coded_size = 2 + (n * 9 + 7) / 8 + 8;
    // Then the Adler-32, and room for the bit writer's last 8-byte store.
    const std::uint64_t capacity = std::max(stored_size, coded_size) + 4 + 8;
    if (capacity > SIZE_MAX) return nullptr;
    auto *out = static_cast<std::uint8_t *>(compressor_buffer(std::size_t(capacity)));
    if (!out) return nullptr;
    Buckets buckets(quality);
    if (!buckets.allocate()) {
        writer_free(out);
        return nullptr;
    }
    out[0] = 0x78, out[1] = 0x5e;  // a 32 KiB window; FLEVEL 1
    BitWriter bits(out + 2);
    compress_block(data, int(n), buckets, bits);
    std::uint8_t *end = bits.finish();
    if (std::uint64_t(end - out) > stored_size) end = store(data, int(n), out + 2);
    const std::uint32_t adler = adler32(data, std::size_t(n));
    for (int shift = 24; shift >= 0; shift -= 8) *end++ = std::uint8_t(adler >> shift);
    *out_len = int(end - out);
    return out;
}

namespace {

constexpr std::array<std::array<std::uint32_t, 256>, 8> crc_tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t n = 0; n < 256; ++n)
            t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}();

std::uint32_t little32(const std::uint8_t *p) noexcept {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

}  // namespace

unsigned int png_crc32(unsigned char *buffer, int len) noexcept {
    const auto &t = crc_tables;
    std::uint32_t crc = ~0u;
    const std::uint8_t *p = buffer;
    std::size_t n = std::size_t(len < 0 ? 0 : len);
    for (; n >= 8; p += 8, n -= 8) {
        const std::uint32_t a = crc ^ little32(p), b = little32(p + 4);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
              t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
    }
    for (; n > 0; ++p, --n) crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
    return ~crc;
}

}  // namespace kelvane
