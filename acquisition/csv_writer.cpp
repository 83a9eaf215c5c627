#include "acquisition/csv_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovik::csv {

// The digits of a number are assembled as the bytes of one 64-bit word, first digit lowest.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "digit words assume little-endian");

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Powers of ten that a double holds exactly (5^22 < 2^53).
constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPow10 = 22;

// %g keeps this many significant digits; the fast path scales a value into [10^5, 10^6).
constexpr int kPrecision = 6;
constexpr uint32_t kScaledLow = 100000;
constexpr uint32_t kScaledHigh = 1000000;

size_t formatWithLibc(double value, char* out) {
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%g", value);
  const size_t len = n < 0 ? 0 : size_t(n) < sizeof text ? size_t(n) : sizeof text - 1;
  std::memcpy(out, text, len);
  return len;
}

// a * 10^k with a single rounding; |k| <= kMaxExactPow10.
inline double scaleByPow10(double a, int k) { return k >= 0 ? a * kPow10[k] : a / kPow10[-k]; }

// Which way the exact value of a * 10^k lies from its rounded double r: +1 above, -1 below,
// 0 equal. The product's error and the quotient's remainder are both representable, so fma
// gives them without rounding.
inline int residualSign(double a, int k, double r) {
  if (k >= 0) {
    const double err = std::fma(a, kPow10[k], -r);  // exact (a * 10^k) - r
    return err > 0 ? 1 : err < 0 ? -1 : 0;
  }
  const double rem = std::fma(r, kPow10[-k], -a);  // r * 10^-k - a: positive when r is too big
  return rem > 0 ? -1 : rem < 0 ? 1 : 0;
}

// The two ASCII digits of v < 100, the first in the low byte.
inline uint16_t pairText(uint32_t v) {
  uint16_t t;
  std::memcpy(&t, kDigitPairs + 2 * v, 2);
  return t;
}

inline char* putTwoDigits(char* w, uint32_t v) {
  std::memcpy(w, kDigitPairs + 2 * v, 2);
  return w + 2;
}

}  // namespace

size_t formatUnsigned(uint64_t value, char* out) {
  // The digits are written backwards from the middle, then copied out as one fixed-size block.
  char text[2 * kIntegerMaxChars];
  char* const end = text + kIntegerMaxChars;
  char* p = end;
  while (value >= 100) {
    const uint32_t pair = uint32_t(value % 100);
    value /= 100;
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * pair, 2);
  }
  if (value >= 10) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * value, 2);
  } else {
    *--p = char('0' + value);
  }
  std::memcpy(out, p, kIntegerMaxChars);
  return size_t(end - p);
}

size_t formatSigned(int64_t value, char* out) {
  if (value >= 0) return formatUnsigned(uint64_t(value), out);
  out[0] = '-';
  return 1 + formatUnsigned(0 - uint64_t(value), out + 1);
}

size_t formatGeneral(double value, char* out) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biasedExp = int((bits >> 52) & 0x7FF);
  // Non-finite and subnormal values are rare enough to leave to the C library.
  if (biasedExp == 0x7FF || (biasedExp == 0 && (bits << 1) != 0)) return formatWithLibc(value, out);

  char* w = out;
  if (bits >> 63) *w++ = '-';
  if ((bits << 1) == 0) {
    *w++ = '0';
    return size_t(w - out);
  }

  const double a = std::fabs(value);
  // a lies in [2^e2, 2^(e2+1)); floor(e2 * log10 2) is its decimal exponent or one below it.
  const int e2 = biasedExp - 1023;
  int exp10 = (e2 * 78913) >> 18;  // floor(e2 log10 2) for |e2| < 1650
  // Scaling must use exact powers of ten on both sides of the [10^5, 10^6) window.
  if (exp10 < kPrecision - 1 - kMaxExactPow10 || exp10 + 1 > kPrecision - 1 + kMaxExactPow10)
    return formatWithLibc(value, out);

  // Both candidate scalings at once; which one lands in the window depends on the mantissa, which
  // a branch would guess wrong half the time. Rounding is monotonic and 10^5, 10^6 are doubles,
  // so these tests see the exact product.
  const double low = scaleByPow10(a, kPrecision - 1 - exp10);
  const double high = scaleByPow10(a, kPrecision - 2 - exp10);
  const bool up = low >= double(kScaledHigh);
  uint64_t lowBits, highBits;
  std::memcpy(&lowBits, &low, sizeof lowBits);
  std::memcpy(&highBits, &high, sizeof highBits);
  const uint64_t pick = uint64_t(0) - uint64_t(up);
  const uint64_t rBits = (lowBits & ~pick) | (highBits & pick);
  double r;
  std::memcpy(&r, &rBits, sizeof r);
  exp10 += int(up);
  if (r < double(kScaledLow) || r >= double(kScaledHigh)) return formatWithLibc(value, out);

  uint32_t n = uint32_t(r);
  const double frac = r - double(n);  // exact: r < 2^20
  // Off the half-way point, r and the exact value round the same way, because the half-way point
  // is itself a double. On it, the residual decides; an exact tie goes to the even digit as the
  // C library's default rounding does.
  n += uint32_t(frac > 0.5);
  if (__builtin_expect(frac == 0.5, 0)) {
    const int side = residualSign(a, kPrecision - 1 - exp10, r);
    n += uint32_t(side > 0 || (side == 0 && (n & 1)));
  }
  if (n == kScaledHigh) {  // 999999.5 and the like carry into a new power of ten
    n = kScaledLow;
    ++exp10;
  }

  // The six digits as ASCII bytes, the first in the lowest byte.
  uint64_t digits = uint64_t(pairText(n / 10000)) | uint64_t(pairText((n / 100) % 100)) << 16 |
                    uint64_t(pairText(n % 100)) << 32;
  // The last digit that is not '0' (digit 0 never is): trailing zeros are dropped.
  const uint64_t values = digits - 0x303030303030ull;
  const uint64_t nonZero = ((values + 0x7F7F7F7F7F7Full) | values) & 0x808080808080ull;
  const int last = (63 - __builtin_clzll(nonZero)) / 8;

  if (exp10 >= 0 && exp10 < kPrecision) {
    // d[.ddddd]: the point goes after digit exp10; eight bytes are stored whatever the length.
    const int cut = 8 * (exp10 + 1);
    const uint64_t head = cut == 48 ? digits : digits & ((uint64_t(1) << cut) - 1);
    const uint64_t tail = cut == 48 ? 0 : (digits >> cut) << (cut + 8);
    const uint64_t text = head | uint64_t('.') << cut | tail;
    std::memcpy(w, &text, 8);
    w += last > exp10 ? last + 2 : exp10 + 1;
  } else if (exp10 < 0 && exp10 >= -4) {
    // 0.[000]dddddd
    const uint64_t zeros = 0x303030302E30ull;  // "0.0000", first character lowest
    std::memcpy(w, &zeros, 8);
    w += 1 - exp10;
    std::memcpy(w, &digits, 8);
    w += last + 1;
  } else {
    char text[8];
    std::memcpy(text, &digits, 8);
    *w++ = text[0];
    if (last > 0) {
      *w++ = '.';
      std::memcpy(w, text + 1, size_t(last));
      w += last;
    }
    *w++ = 'e';
    *w++ = exp10 < 0 ? '-' : '+';
    // The fast path covers decimal exponents below 100 only.
    w = putTwoDigits(w, uint32_t(exp10 < 0 ? -exp10 : exp10));
  }
  return size_t(w - out);
}

void appendHeader(std::string& out) {
  out.append(kHeader, sizeof kHeader - 1);
  out.push_back('\n');
}

namespace {
// Fields of varying length are stored as blocks of this size (idText, channelText, times).
constexpr size_t kFieldBlock = 24;
// A row: FreamID, five floating fields, two small integers, two 64-bit times, nine commas and the
// line end, and room for the fixed-size stores past the last field.
constexpr size_t kMaxRowChars = kIntegerMaxChars + 5 * kGeneralMaxChars + 2 * kIntegerMaxChars +
                                2 * kIntegerMaxChars + 10 + kFieldBlock + kGeneralRoom;
constexpr size_t kChunkChars = 64 * 1024;

inline bool inAngleRange(float a, const RowOptions& o) {
  return o.angleMin <= a && a <= o.angleMax;
}
}  // namespace

size_t countRows(const LidarData& frame, const RowOptions& options) {
  const float lo = options.angleMin;
  const float hi = options.angleMax;
  size_t rows = 0;
  for (int k = 0; k < kChannelCount; ++k) {
    if (!(options.channels & (1u << k))) continue;
    const size_t count = frame.pointCount(k);
    const float* azimuth = frame.azimuth[k].data();
    size_t i = 0;
#if defined(__SSE2__)
    // The same comparisons four at a time; each lane counts down by one per point inside.
    const __m128 vlo = _mm_set1_ps(lo), vhi = _mm_set1_ps(hi);
    __m128i inside = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
      const __m128 a = _mm_loadu_ps(azimuth + i);
      const __m128 in = _mm_and_ps(_mm_cmple_ps(vlo, a), _mm_cmple_ps(a, vhi));
      inside = _mm_sub_epi32(inside, _mm_castps_si128(in));
    }
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), inside);
    rows += size_t(lanes[0]) + size_t(lanes[1]) + size_t(lanes[2]) + size_t(lanes[3]);
#endif
    for (; i < count; ++i) rows += size_t((lo <= azimuth[i]) & (azimuth[i] <= hi));
  }
  return rows;
}

size_t appendRevolution(std::string& out, const LidarData& frame, int freamId,
                        const AngleTable& verticalAngles, const RowOptions& options) {
  const ChannelTrig trig = channelTrig(verticalAngles);

  // Texts of varying length are copied as fixed 24-byte blocks; the row room absorbs the excess.
  char idText[kFieldBlock + kIntegerRoom];
  size_t idLen = formatSigned(freamId, idText);
  idText[idLen++] = ',';

  // Rows are written straight into out, grown a chunk at a time; the chunk's unused tail is cut
  // off at the end.
  size_t used = out.size();
  size_t rows = 0;
  for (int k = 0; k < kChannelCount; ++k) {
    if (!(options.channels & (1u << k))) continue;

    // ",<intensity>" comes before it, so the channel column is framed by commas on both sides.
    char channelText[kFieldBlock + kIntegerRoom];
    size_t channelLen = 0;
    channelText[channelLen++] = ',';
    channelLen += formatSigned(options.channelNumber[k], channelText + channelLen);
    channelText[channelLen++] = ',';

    const size_t count = frame.pointCount(k);
    const float* distance = frame.distance[k].data();
    const int* intensity = frame.intensity[k].data();
    const float* azimuth = frame.azimuth[k].data();
    const uint64_t* adjustedTime = frame.adjustedTime[k].data();
    const double cosV = trig.cosV[k];
    const double sinV = trig.sinV[k];
    for (size_t i = 0; i < count; ++i) {
      const float a = azimuth[i];
      if (!inAngleRange(a, options)) continue;
      const float d = float(scaleDistance(distance[i], options.accuaryMode));  // cm
      const PointXYZ p = pointPosition(d, a, cosV, sinV);

      if (out.size() - used < kMaxRowChars) out.resize(used + kChunkChars);
      char* w = &out[used];
      std::memcpy(w, idText, kFieldBlock);
      w += idLen;
      w += formatGeneral(p.x, w);
      *w++ = ',';
      w += formatGeneral(p.y, w);
      *w++ = ',';
      w += formatGeneral(p.z, w);
      *w++ = ',';
      w += formatSigned(intensity[i], w);
      std::memcpy(w, channelText, kFieldBlock);
      w += channelLen;
      w += formatGeneral(a, w);
      *w++ = ',';
      w += formatGeneral(d / 100, w);  // metres, in single precision
      *w++ = ',';
      // adjustedtime and timestamp: the same value twice.
      char timeText[kFieldBlock + kIntegerRoom];
      const size_t timeLen = formatUnsigned(adjustedTime[i], timeText);
      timeText[timeLen] = ',';
      std::memcpy(w, timeText, kFieldBlock);
      w += timeLen + 1;
      timeText[timeLen] = '\n';
      std::memcpy(w, timeText, kFieldBlock);
      w += timeLen + 1;
      used = size_t(w - out.data());
      ++rows;
    }
  }
  out.resize(used);
  return rows;
}

}  // namespace tovik::csv
