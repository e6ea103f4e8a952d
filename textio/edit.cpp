// Output editing of Iw and Ew.d fields and the decimal decoder beneath Ew.d.
//
// The run keeps invalid-operation, division-by-zero and overflow traps
// enabled, so nothing here touches a double with floating-point arithmetic
// or comparisons: the value is taken apart as bits and every digit comes
// from integer arithmetic.

#include "textio/edit.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace textio {
namespace {

constexpr uint64_t kSignBit = 0x8000000000000000u;
constexpr uint64_t kExpMask = 0x7FF0000000000000u;
constexpr uint64_t kFracMask = 0x000FFFFFFFFFFFFFu;
constexpr uint64_t kQuietBit = 0x0008000000000000u;
// The not-a-number the processor produces for an invalid operation.
constexpr uint64_t kDefaultNaN = 0xFFF8000000000000u;

constexpr uint64_t kTen17 = 100000000000000000u;
constexpr uint64_t kTen18 = 1000000000000000000u;

constexpr uint32_t kPow5[14] = {1u,        5u,         25u,        125u,       625u,
                                3125u,     15625u,     78125u,     390625u,    1953125u,
                                9765625u,  48828125u,  244140625u, 1220703125u};

// An unsigned integer of up to 1088 bits in 32-bit limbs, least significant
// first.  Large enough for m * 5^s (53 + 792 bits, the smallest denormal)
// and for m * 2^e (1025 bits, one binade beyond the largest double).
struct Big {
    uint32_t limb[34];
    int n;  // limbs in use; limb[n-1] != 0 unless n == 0
};

void big_mul_small(Big& b, uint32_t f) {
    uint64_t carry = 0;
    for (int i = 0; i < b.n; ++i) {
        const uint64_t t = uint64_t{b.limb[i]} * f + carry;
        b.limb[i] = static_cast<uint32_t>(t);
        carry = t >> 32;
    }
    if (carry != 0) b.limb[b.n++] = static_cast<uint32_t>(carry);
}

void big_mul_pow5(Big& b, int k) {
    for (; k >= 13; k -= 13) big_mul_small(b, kPow5[13]);
    if (k > 0) big_mul_small(b, kPow5[k]);
}

// Divides in place by d, long division from the top limb down.  Given a
// std::integral_constant the divisor is a constant, and the compiler turns
// the division into a multiplication.
template <class Divisor>
void big_div(Big& b, Divisor d) {
    const uint64_t dv = d;
    uint64_t rem = 0;
    for (int i = b.n - 1; i >= 0; --i) {
        const uint64_t cur = (rem << 32) | b.limb[i];
        b.limb[i] = static_cast<uint32_t>(cur / dv);
        rem = cur % dv;
    }
    while (b.n > 0 && b.limb[b.n - 1] == 0) --b.n;
}

uint32_t limb_or_zero(const Big& b, int i) { return i < b.n ? b.limb[i] : 0u; }

// floor(b / 2^sh), for a quotient known to be below 2^64.
uint64_t big_shr_to_u64(const Big& b, int sh) {
    const int w = sh / 32;
    const int r = sh % 32;
    const uint64_t lo = limb_or_zero(b, w);
    const uint64_t mid = limb_or_zero(b, w + 1);
    const uint64_t hi = limb_or_zero(b, w + 2);
    if (r == 0) return lo | (mid << 32);
    return (lo >> r) | (mid << (32 - r)) | (hi << (64 - r));
}

// floor(log10(2^k)) for |k| well beyond the range of a double's exponent.
int floor_log10_pow2(int k) { return (k * 315653) >> 20; }

// m * 2^e scaled by 10^s and truncated: the first 18 or 19 digits of the
// value as an integer.  The scaled value is below 10^19, so it fits.
uint64_t scaled_digits(uint64_t m, int e, int s) {
    Big b;
    if (s >= 0) {
        // m * 2^e * 10^s = (m * 5^s) * 2^(e+s)
        b.limb[0] = static_cast<uint32_t>(m);
        b.limb[1] = static_cast<uint32_t>(m >> 32);
        b.n = b.limb[1] != 0 ? 2 : 1;
        big_mul_pow5(b, s);
        const int sh = e + s;
        if (sh <= 0) return big_shr_to_u64(b, -sh);
        // A left shift only happens for values of 2^53 and more, where
        // s <= 3 and m * 5^s still fits in 64 bits.
        return big_shr_to_u64(b, 0) << sh;
    }
    // s < 0 only for values of 10^18 and more, whose exponent e is positive
    // and larger than t = -s:  m * 2^e / 10^t = (m << (e - t)) / 5^t, which
    // divides a shorter number by fewer, constant, divisors than dividing
    // m << e by tens would.
    const int t = -s;
    const int w = (e - t) / 32;
    const int r = (e - t) % 32;
    for (int i = 0; i < w; ++i) b.limb[i] = 0;
    const uint64_t lo = m << r;
    const uint64_t hi = r == 0 ? 0 : m >> (64 - r);
    b.limb[w] = static_cast<uint32_t>(lo);
    b.limb[w + 1] = static_cast<uint32_t>(lo >> 32);
    b.limb[w + 2] = static_cast<uint32_t>(hi);
    b.n = w + 3;
    while (b.n > 0 && b.limb[b.n - 1] == 0) --b.n;
    int k = t;
    for (; k >= 13; k -= 13) big_div(b, std::integral_constant<uint32_t, kPow5[13]>{});
    if (k > 0) big_div(b, kPow5[k]);
    return big_shr_to_u64(b, 0);
}

// The same for the values the system shows most, 10^-37 to 2^53, in two
// or three 64-bit words instead of limbs: m * 5^s * 2^(e+s) with 5^s
// below 2^128 and a right shift.  False when the value lies outside.
__extension__ typedef unsigned __int128 u128;

constexpr int kPow5Wide = 55;  // 5^55 < 2^128 < 5^56
struct Pow5Table {
    u128 p[kPow5Wide + 1];
    constexpr Pow5Table() : p() {
        p[0] = 1;
        for (int k = 1; k <= kPow5Wide; ++k) p[k] = p[k - 1] * 5;
    }
};
constexpr Pow5Table kPow5Wide128;

bool scaled_digits_wide(uint64_t m, int e, int s, uint64_t& out) {
    const int sh = e + s;
    if (s < 0 || s > kPow5Wide || sh >= 0) return false;
    const u128 p5 = kPow5Wide128.p[s];
    // m * 5^s in three words, least significant first.
    const u128 lo = static_cast<u128>(m) * static_cast<uint64_t>(p5);
    const u128 hi = static_cast<u128>(m) * static_cast<uint64_t>(p5 >> 64) + (lo >> 64);
    const uint64_t w[4] = {static_cast<uint64_t>(lo), static_cast<uint64_t>(hi), static_cast<uint64_t>(hi >> 64), 0};
    const int k = -sh;
    if (k >= 192) return false;
    const int at = k / 64;
    const int r = k % 64;
    out = r == 0 ? w[at] : (w[at] >> r) | (w[at + 1] << (64 - r));
    return true;
}

}  // namespace

namespace {

// The first 18 significant digits of a finite non-zero magnitude (its
// bits without the sign), truncated, as one integer q in [10^17, 10^18),
// and e such that magnitude = 0.q... x 10^e (q read as D1 D2 ... D18).
struct Digits18 {
    uint64_t q;
    int exp;
};

Digits18 digits18(uint64_t bits) {
    const int field = static_cast<int>(bits >> 52);
    const uint64_t frac = bits & kFracMask;
    // The value is m * 2^e exactly.  Non-finite inputs are screened out by
    // the callers; they would decode as a value one binade above the largest.
    uint64_t m;
    int e;
    if (field == 0) {
        m = frac;
        e = -1074;
    } else {
        m = frac | (uint64_t{1} << 52);
        e = field - 1075;
    }

    // The value lies in [2^(b-1), 2^b).  est is its decimal exponent or one
    // less (a binade never spans two powers of ten), so scaling by
    // 10^(18-est) leaves 18 or 19 digits before the point.
    const int b = 64 - std::countl_zero(m) + e;
    int est = floor_log10_pow2(b - 1) + 1;
    uint64_t q;
    if (!scaled_digits_wide(m, e, 18 - est, q)) q = scaled_digits(m, e, 18 - est);
    // Without branches: which way these go depends on the value alone.
    const bool nineteen = q >= kTen18;
    q = nineteen ? q / 10 : q;  // truncating twice is truncating once
    est += nineteen ? 1 : 0;
    return {q, est};
}

constexpr uint64_t kPow10[18] = {1u,
                                 10u,
                                 100u,
                                 1000u,
                                 10000u,
                                 100000u,
                                 1000000u,
                                 10000000u,
                                 100000000u,
                                 1000000000u,
                                 10000000000u,
                                 100000000000u,
                                 1000000000000u,
                                 10000000000000u,
                                 100000000000000u,
                                 1000000000000000u,
                                 10000000000000000u,
                                 kTen17};

}  // namespace

Decimal decode17(double magnitude) {
    const uint64_t bits = std::bit_cast<uint64_t>(magnitude) & ~kSignBit;
    Decimal out{};
    if (bits == 0) {
        out.digits[0] = '0';
        out.ndigits = 1;
        out.exp = 0;
        return out;
    }
    const Digits18 d = digits18(bits);
    int exp = d.exp;
    // The 18th digit rounds the 17th.
    uint64_t r = d.q / 10 + (d.q % 10 >= 5 ? 1 : 0);
    if (r == kTen17) {
        r = kTen17 / 10;
        ++exp;
    }
    int n = 17;
    while (n > 1 && r % 10 == 0) {
        r /= 10;
        --n;
    }
    for (int i = n - 1; i >= 0; --i) {
        out.digits[i] = static_cast<char>('0' + r % 10);
        r /= 10;
    }
    out.ndigits = n;
    out.exp = exp;
    return out;
}

void put_int(char* out, int64_t value, int w) {
    char buf[20];
    int len = 0;
    // Through the unsigned magnitude so that the most negative value works.
    uint64_t mag = value < 0 ? 0u - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        buf[sizeof buf - 1 - len++] = static_cast<char>('0' + mag % 10);
        mag /= 10;
    } while (mag != 0);
    const int text = len + (value < 0 ? 1 : 0);
    if (text > w) {
        std::memset(out, '*', static_cast<std::size_t>(w));
        return;
    }
    std::memset(out, ' ', static_cast<std::size_t>(w - text));
    out += w - text;
    if (value < 0) *out++ = '-';
    std::memcpy(out, buf + sizeof buf - len, static_cast<std::size_t>(len));
}

namespace {

// "00" to "99".
struct DigitPairs {
    char text[200];
    constexpr DigitPairs() : text() {
        for (int k = 0; k < 100; ++k) {
            text[2 * k] = static_cast<char>('0' + k / 10);
            text[2 * k + 1] = static_cast<char>('0' + k % 10);
        }
    }
};
constexpr DigitPairs kDigitPairs;

void put_pair(char* at, uint32_t k) { std::memcpy(at, kDigitPairs.text + 2 * k, 2); }

// The fields every step record holds, Ew.6 with w of 12 or more and an
// exponent of two digits: blanks, the sign or a blank, the point, the six
// digits t (below 10^6) by pairs, and E with the exponent's sign and
// digits, laid out as the general path below lays them.
void put_six_digits(char* out, int w, bool negative, uint32_t t, bool negative_exp, int mag) {
    for (int k = 0; k < w - 12; ++k) out[k] = ' ';
    char field[12];
    field[0] = negative ? '-' : ' ';
    field[1] = '.';
    // The pairs from the top down by multiplications only: y holds
    // t / 10^4 in fixed point with 32 fraction bits, and each pair is the
    // integer part after the next multiplication by 100.  Rounding the
    // reciprocal up gives every pair exactly for every t below 10^6 (a
    // test takes them all).
    constexpr uint64_t kLow = 0xFFFFFFFFu;
    uint64_t y = uint64_t{t} * ((uint64_t{1} << 32) / 10000 + 1);
    put_pair(field + 2, static_cast<uint32_t>(y >> 32));
    y = (y & kLow) * 100;
    put_pair(field + 4, static_cast<uint32_t>(y >> 32));
    y = (y & kLow) * 100;
    put_pair(field + 6, static_cast<uint32_t>(y >> 32));
    field[8] = 'E';
    field[9] = negative_exp ? '-' : '+';
    put_pair(field + 10, static_cast<uint32_t>(mag));
    std::memcpy(out + (w - 12), field, sizeof field);
}

}  // namespace

void put_exp(char* out, double value, int w, int d) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const std::size_t width = static_cast<std::size_t>(w);

    if ((bits & kExpMask) == kExpMask) {
        const char* text;
        std::size_t len;
        if ((bits & kFracMask) == 0) {
            text = "1#INF";
            len = 5;
        } else if (bits == kDefaultNaN) {
            text = "1#IND";
            len = 5;
        } else if ((bits & kQuietBit) == 0) {
            text = "1#SNAN";
            len = 6;
        } else {
            text = "1#QNAN";
            len = 6;
        }
        if (len > width) {
            std::memset(out, '*', width);
            return;
        }
        std::memcpy(out, text, len);
        std::memset(out + len, '.', width - len);
        return;
    }

    // A field without fraction digits cannot show a value.
    if (d < 1) {
        std::memset(out, '*', width);
        return;
    }

    const bool zero = (bits & ~kSignBit) == 0;
    const bool negative = !zero && (bits & kSignBit) != 0;

    // Round the 17-digit string, not the binary value, to the n digits
    // shown (half up on digit n + 1); a 64-bit real carries no more than 16
    // significant digits.  Zero is the string "0": n zeros.
    const int n = d < 16 ? d : 16;
    uint64_t t = 0;
    int e = 0;
    if (!zero) {
        const Digits18 dec = digits18(bits & ~kSignBit);
        // The first n + 1 digits of the 17-digit string r = (q + 5) / 10,
        // taken from q at once: upto = (q + 5) / 10^(17 - n).  When r is 10^17
        // (its rounding carried out of D1) t below carries too, and the
        // exponent goes up there.
        // Rounding upto half up at its last digit is (upto + 5) / 10, and
        // the two divisions make one: for the system's six digits,
        // (q + 5 + 5 * 10^11) / 10^12, by a constant.
        if (n == 6) {
            t = (dec.q + 5 + 5 * kPow10[11]) / (kPow10[11] * 10);
        } else {
            const uint64_t upto = (dec.q + 5) / kPow10[17 - n];
            t = upto / 10 + (upto % 10 >= 5 ? 1 : 0);
        }
        e = dec.exp;
        if (t == kPow10[n]) {
            t = kPow10[n - 1];
            ++e;
        }
    }
    const int mag = e < 0 ? -e : e;
    if (n == 6 && mag <= 99 && w >= 12) {
        put_six_digits(out, w, negative, static_cast<uint32_t>(t), e < 0, mag);
        return;
    }
    if (mag > 999) {
        std::memset(out, '*', width);
        return;
    }
    char expo[4];
    if (mag <= 99) {
        expo[0] = 'E';
        expo[1] = e < 0 ? '-' : '+';
        expo[2] = static_cast<char>('0' + mag / 10);
        expo[3] = static_cast<char>('0' + mag % 10);
    } else {
        expo[0] = e < 0 ? '-' : '+';
        expo[1] = static_cast<char>('0' + mag / 100);
        expo[2] = static_cast<char>('0' + mag / 10 % 10);
        expo[3] = static_cast<char>('0' + mag % 10);
    }

    // Compared in 64 bits: d may be as large as an int allows.
    const int64_t len = int64_t{d} + 5 + (negative ? 1 : 0);
    if (len > w) {
        std::memset(out, '*', width);
        return;
    }
    // The blanks in front of an unsigned text, then the sign over the last
    // of them; without a sign the point written next covers the '-'.
    // Neither depends on a branch that the sign of the values would steer.
    char* const end = out + w;
    const int64_t unsigned_blanks = int64_t{w} - d - 5;
    std::memset(out, ' ', static_cast<std::size_t>(unsigned_blanks));
    out += unsigned_blanks;
    out[negative ? -1 : 0] = '-';
    *out++ = '.';
    // Two digits at a time from the right: half the chain of divisions.
    int i = n;
    for (; i >= 2; i -= 2) {
        const uint64_t pair = t % 100;
        t /= 100;
        out[i - 1] = static_cast<char>('0' + pair % 10);
        out[i - 2] = static_cast<char>('0' + pair / 10);
    }
    if (i == 1) out[0] = static_cast<char>('0' + t);
    for (char* z = out + n; z < end - 4; ++z) *z = '0';
    std::memcpy(end - 4, expo, 4);
}

// Appending is putting into the record grown by the field's width.
void edit_int(std::string& rec, int64_t value, int w) {
    if (w <= 0) return;
    const std::size_t at = rec.size();
    rec.resize(at + static_cast<std::size_t>(w));
    put_int(rec.data() + at, value, w);
}

void edit_exp(std::string& rec, double value, int w, int d) {
    if (w <= 0) return;
    const std::size_t at = rec.size();
    rec.resize(at + static_cast<std::size_t>(w));
    put_exp(rec.data() + at, value, w, d);
}

}  // namespace textio
