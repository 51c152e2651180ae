// Sexagesimal texts of the status caption: degrees (declinations, widths) and hours (right
// ascensions), and the two numeric helpers they lean on.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "sky/SkyLib.h"

using namespace pelorin;

namespace {

const std::string kDeg = "\xC2\xB0";  // the degree sign, UTF-8

std::string Dms(const std::string& sign, const std::string& d, const std::string& m,
                const std::string& s) {
    return sign + d + kDeg + m + "'" + s + "\"";
}

}  // namespace

TEST(Degrees, ReferenceTable) {
    EXPECT_EQ(Degrees(29.99975), Dms("+", "29", "59", "59"));
    EXPECT_EQ(Degrees(0.256), Dms("+", "00", "15", "22"));
    EXPECT_EQ(Degrees(-0.5), Dms("-", "00", "30", "00"));
    EXPECT_EQ(Degrees(12.999999), Dms("+", "13", "00", "00"));
    EXPECT_EQ(Degrees(123.456), Dms("+", "123", "27", "22"));
}

TEST(Degrees, DegreeSignIsTwoUtf8Bytes) {
    const std::string s = Degrees(1.0);
    EXPECT_EQ(s,
              "+01\xC2\xB0"
              "00'00\"");
    EXPECT_EQ(s.size(), 11u);  // 9 ASCII characters and the two bytes of the sign
}

TEST(Degrees, SignComesFromTheValueNotFromTheDegrees) {
    EXPECT_EQ(Degrees(-0.0001), Dms("-", "00", "00", "00"));
    EXPECT_EQ(Degrees(-12.5), Dms("-", "12", "30", "00"));
    EXPECT_EQ(Degrees(-123.456), Dms("-", "123", "27", "22"));
    EXPECT_EQ(Degrees(0.0), Dms("+", "00", "00", "00"));
    EXPECT_EQ(Degrees(-0.0), Dms("+", "00", "00", "00"));  // -0 is not below 0
}

TEST(Degrees, MinutesCarryFromFiftyNinePointNineNine) {
    // 59.994 minutes carry into the degrees; below the threshold they do not, and the
    // seconds (59.4) are rounded without reaching 60.
    EXPECT_EQ(Degrees(10.9999), Dms("+", "11", "00", "00"));
    EXPECT_EQ(Degrees(10.99983), Dms("+", "10", "59", "59"));
    // The carry follows the sign.
    EXPECT_EQ(Degrees(-12.999999), Dms("-", "13", "00", "00"));
    EXPECT_EQ(Degrees(-0.99999), Dms("-", "01", "00", "00"));
}

TEST(Degrees, SecondsCarryFromFiftyNinePointFive) {
    // 1° 30' 59.6" shows as 1° 31' 00"; 59.4" stays 59".
    EXPECT_EQ(Degrees(1.0 + (30.0 + 59.6 / 60.0) / 60.0), Dms("+", "01", "31", "00"));
    EXPECT_EQ(Degrees(1.0 + (30.0 + 59.4 / 60.0) / 60.0), Dms("+", "01", "30", "59"));
}

TEST(Degrees, FieldsAreZeroFilledToTwoDigits) {
    EXPECT_EQ(Degrees(5.0 + (7.0 + 9.4 / 60.0) / 60.0), Dms("+", "05", "07", "09"));
    // 9.6 seconds round up to two digits.
    EXPECT_EQ(Degrees(5.0 + (7.0 + 9.6 / 60.0) / 60.0), Dms("+", "05", "07", "10"));
}

TEST(Hours, ReferenceTable) {
    EXPECT_EQ(Hours(10.0000192), " 10h00m00.1s");
    EXPECT_EQ(Hours(5.5), "  5h30m00.0s");
    EXPECT_EQ(Hours(0.0833333), "  0h05m00.0s");   // 59.99988 s carry into the minutes
    EXPECT_EQ(Hours(23.9999999), " 24h00m00.0s");  // no wrap at 24 h
}

TEST(Hours, MinutesCarryFromFiftyNinePointNineNineNine) {
    // 59.9994 minutes carry into the hours (with a 60 threshold this would be "1h60m").
    EXPECT_EQ(Hours(1.99999), "  2h00m00.0s");
    EXPECT_EQ(Hours(1.9999), "  1h59m59.6s");
}

TEST(Hours, SecondsWithOneDecimal) {
    EXPECT_EQ(Hours(12.0 + (34.0 + 5.3 / 60.0) / 60.0), " 12h34m05.3s");
    EXPECT_EQ(Hours(12.0 + (34.0 + 56.7 / 60.0) / 60.0), " 12h34m56.7s");
    // 59.96 seconds carry into the minutes, 59.94 do not.
    EXPECT_EQ(Hours(3.0 + (7.0 + 59.96 / 60.0) / 60.0), "  3h08m00.0s");
    EXPECT_EQ(Hours(3.0 + (7.0 + 59.94 / 60.0) / 60.0), "  3h07m59.9s");
    EXPECT_EQ(Hours(123.25), "123h15m00.0s");
}

TEST(Hours, SecondsJustBelowTenKeepTheirLeadingZero) {
    // This input gives seconds equal to the stored 9.95, which is 9.9499...: written with
    // one decimal it is "9.9" and must be zero-filled, not blank-filled.
    const double x = 0.0027638888888888886;
    const double minutes = x * 60.0;
    ASSERT_EQ((minutes - std::trunc(minutes)) * 60.0, 9.95);
    EXPECT_EQ(Hours(x), "  0h00m09.9s");
    EXPECT_EQ(Hours(9.96 / 3600.0), "  0h00m10.0s");
}

TEST(Hours, NegativeValuesAreWrittenAsComputed) {
    EXPECT_EQ(Hours(-5.5), " -5h30m00.0s");
    EXPECT_EQ(Hours(-12.49), "-12h29m24.0s");
    // Int(-0.5) is 0: the sign is lost, but no "-0" is ever written.
    EXPECT_EQ(Hours(-0.5), "  0h30m00.0s");
}

TEST(SkyLibHelpers, SignAndRemainder) {
    EXPECT_EQ(Sign(0.0), 1.0);
    EXPECT_EQ(Sign(-0.0), 1.0);
    EXPECT_EQ(Sign(-1e-300), -1.0);
    EXPECT_EQ(Remainder(370, 360), 10);
    EXPECT_EQ(Remainder(-10, 360), -10);
    EXPECT_EQ(Remainder(-370, 360), -10);
    EXPECT_EQ(Remainder(720, 360), 0);
}
