#include "base/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/Errors.h"

namespace pelorin {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view t) {
    while (!t.empty() && IsBlank(t.front()))
        t.remove_prefix(1);
    while (!t.empty() && IsBlank(t.back()))
        t.remove_suffix(1);
    return t;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal digits of |x|, rounded with halves away from zero at the given position.
// `keep` is the number of digits kept counting from the most significant digit of |x|
// (which has decimal exponent `exp10`). Returns the digits and the (possibly raised)
// exponent. keep may be 0 or negative: the result is then "" or "1" (carry).
struct Digits {
    std::string digits;  // no leading zeros; empty means zero
    int exp10 = 0;       // exponent of the first digit
};

Digits ExactDigits(long double ax) {
    // 70 digits after the first are enough to tell an exact tie from a near one for any
    // position we round at: the distance between a tie and its neighbours is at least one
    // unit of the 64-bit mantissa, far above the last digit printed.
    char buf[128];
    auto res = std::to_chars(buf, buf + sizeof buf, ax, std::chars_format::scientific, 70);
    std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));
    Digits d;
    const auto e = s.find('e');
    for (std::size_t i = 0; i < e; ++i)
        if (IsDigit(s[i])) d.digits.push_back(s[i]);
    int exp = 0;
    std::from_chars(s.data() + e + 1 + (s[e + 1] == '+' ? 1 : 0), s.data() + s.size(), exp);
    d.exp10 = exp;
    return d;
}

Digits RoundDigits(Digits d, int keep) {
    if (keep < 0) return Digits{"", d.exp10};
    const std::size_t k = static_cast<std::size_t>(keep);
    if (k >= d.digits.size()) return d;
    const bool up =
        d.digits[k] >= '5';  // halves away from zero: a first dropped digit of 5 rounds up
    std::string kept = d.digits.substr(0, k);
    if (up) {
        int i = static_cast<int>(kept.size()) - 1;
        while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9') {
            kept[static_cast<std::size_t>(i)] = '0';
            --i;
        }
        if (i < 0) {
            kept.insert(kept.begin(), '1');
            d.exp10 += 1;
        } else {
            kept[static_cast<std::size_t>(i)] += 1;
        }
    }
    // Strip trailing zeros; an all-zero result is zero.
    while (!kept.empty() && kept.back() == '0')
        kept.pop_back();
    d.digits = kept;
    return d;
}

}  // namespace

long double RoundHalfEven(long double x) {
    return std::nearbyint(x);
}

long long RoundDivHalfEven(long long numerator, long long denominator) {
    long long q = numerator / denominator;
    long long r = numerator % denominator;
    if (r < 0) {  // floor division
        --q;
        r += denominator;
    }
    const long long twice = 2 * r;
    if (twice > denominator || (twice == denominator && (q % 2 != 0))) ++q;
    return q;
}

bool TryParseInteger(std::string_view text, std::int32_t& value) {
    std::string_view t = Trim(text);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    if (t.empty()) return false;
    bool negative = false;
    if (t.front() == '-') {
        negative = true;
        t.remove_prefix(1);
    }
    if (t.empty()) return false;
    std::int64_t v = 0;
    for (char c : t) {
        if (!IsDigit(c)) return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max()) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

std::int32_t StrToInt(std::string_view text) {
    std::int32_t v = 0;
    if (!TryParseInteger(text, v)) ThrowInvalidInteger(std::string(text));
    return v;
}

std::int32_t IntValueOrZero(std::string_view text) {
    std::int32_t v = 0;
    return TryParseInteger(text, v) ? v : 0;
}

bool TryParseReal(std::string_view text, long double& value) {
    std::string_view t = Trim(text);
    std::string s;
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    bool digits = false;
    while (i < t.size() && IsDigit(t[i])) {
        s.push_back(t[i++]);
        digits = true;
    }
    if (i < t.size() && t[i] == '.') {
        s.push_back(t[i++]);
        while (i < t.size() && IsDigit(t[i])) {
            s.push_back(t[i++]);
            digits = true;
        }
    }
    if (!digits) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        s.push_back('e');
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) s.push_back(t[i++]);
        bool expDigits = false;
        while (i < t.size() && IsDigit(t[i])) {
            s.push_back(t[i++]);
            expDigits = true;
        }
        if (!expDigits) return false;
    }
    if (i != t.size()) return false;
    long double v = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // A magnitude below the smallest real reads as 0; one above the largest is not a
        // number we can hold.
        const auto ePos = s.find('e');
        if (ePos == std::string::npos || s[ePos + 1] != '-') return false;
        v = 0;
    } else if (res.ec != std::errc() || res.ptr != s.data() + s.size()) {
        return false;
    }
    value = negative ? -v : v;
    return true;
}

long double StrToFloat(std::string_view text) {
    long double v = 0;
    if (!TryParseReal(text, v)) ThrowInvalidFloat(std::string(text));
    return v;
}

std::string FormatFixed(long double x, int decimals) {
    if (std::isnan(x)) return "NAN";
    if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
    const bool negative = std::signbit(x);
    long double ax = std::fabs(x);
    std::string intPart = "0";
    std::string frac(static_cast<std::size_t>(decimals), '0');
    if (ax != 0) {
        Digits d = ExactDigits(ax);
        // Digits kept: those down to the 10^-decimals place.
        d = RoundDigits(d, d.exp10 + decimals + 1);
        if (!d.digits.empty()) {
            // Lay the digits out around the decimal point.
            const int first = d.exp10;  // power of ten of digits[0]
            std::string ip;
            for (int p = std::max(first, 0); p >= 0; --p) {
                const int idx = first - p;
                ip.push_back(idx >= 0 && idx < static_cast<int>(d.digits.size())
                                 ? d.digits[static_cast<std::size_t>(idx)]
                                 : '0');
            }
            // Drop leading zeros of the integer part, keeping one.
            std::size_t nz = ip.find_first_not_of('0');
            intPart = nz == std::string::npos ? "0" : ip.substr(nz);
            for (int k = 1; k <= decimals; ++k) {
                const int idx = first + k;
                if (idx >= 0 && idx < static_cast<int>(d.digits.size()))
                    frac[static_cast<std::size_t>(k - 1)] = d.digits[static_cast<std::size_t>(idx)];
            }
        }
    }
    std::string out;
    const bool isZero = intPart == "0" && frac.find_first_not_of('0') == std::string::npos;
    if (negative && !isZero) out.push_back('-');
    out += intPart;
    if (decimals > 0) {
        out.push_back('.');
        out += frac;
    }
    return out;
}

std::string FormatFixedWidth(long double x, int width, int decimals) {
    std::string s = FormatFixed(x, decimals);
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<std::size_t>(width - static_cast<int>(s.size())), ' ');
    return s;
}

std::string FormatGeneral(long double x, int digits) {
    if (std::isnan(x)) return "NAN";
    if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
    if (x == 0) return "0";
    const bool negative = std::signbit(x);
    Digits d = RoundDigits(ExactDigits(std::fabs(x)), digits);
    if (d.digits.empty()) return "0";
    std::string out = negative ? "-" : "";
    const int e = d.exp10;
    if (e >= -4 && e < digits) {
        if (e < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-e - 1), '0');
            out += d.digits;
        } else {
            std::string ds = d.digits;
            if (static_cast<int>(ds.size()) <= e + 1) {
                ds.append(static_cast<std::size_t>(e + 1 - static_cast<int>(ds.size())), '0');
                out += ds;
            } else {
                out += ds.substr(0, static_cast<std::size_t>(e + 1));
                out.push_back('.');
                out += ds.substr(static_cast<std::size_t>(e + 1));
            }
        }
    } else {
        out.push_back(d.digits[0]);
        if (d.digits.size() > 1) {
            out.push_back('.');
            out += d.digits.substr(1);
        }
        out.push_back('E');
        if (e < 0) out.push_back('-');
        out += std::to_string(e < 0 ? -e : e);
    }
    return out;
}

}  // namespace pelorin
