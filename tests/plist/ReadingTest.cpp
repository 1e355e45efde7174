// Numbers and booleans read from values and from text, whatever the process locale.
#include "plist/PropertyList.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

using plist::Value;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ReadText, NumbersTakeTheLongestDecimalPrefix) {
    // clang-format off
    const std::pair<QStringView, double> cases[] = {
        {u"37.9", 37.9}, {u" \t\n37.9%", 37.9}, {u"-1.5e3x", -1500}, {u"+.5E-1", 0.05}, {u"5.", 5},
        {u"1e", 1},      {u"2e+", 2},           {u"1,5", 1},         {u"007", 7},       {u"", 0},
        {u"   ", 0},     {u"abc", 0},           {u".", 0},           {u"-", 0},         {u"e5", 0},
        {u"0x1A", 0},    {u"inf", 0},           {u"nan", 0},         {u"- 1", 0},       {u"\u0661\u0662", 0},
        // Magnitudes beyond a double give an infinity or zero.
        {u"1e400", kInf}, {u"-1e400", -kInf}, {u"1e-400", 0}, {u"4e-320", 4e-320}, {u"0e99999999999", 0},
        {u"1e99999999999", kInf}};
    // clang-format on
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(plist::doubleValue(text), expected) << '"' << text.toString().toStdString() << '"';
    // A NUL ends the number like any other character, as do the digits of other scripts above.
    EXPECT_EQ(plist::doubleValue(QStringView(u"12\0003", 4)), 12);
}

TEST(ReadText, BooleansLookAtTheFirstSignificantCharacter) {
    // After white space, a sign and any zeros: Y, y, T, t or a digit 1-9.
    for (const char* text : {"YES", "true", "T", "  y", "-t", "1", "9", "+0001", "0y"})
        EXPECT_TRUE(plist::boolValue(QString::fromUtf8(text))) << '"' << text << '"';
    for (const char* text : {"", " ", "NO", "false", "00", "-0", "+", "x1", ".5", "- 1", "0x1"})
        EXPECT_FALSE(plist::boolValue(QString::fromUtf8(text))) << '"' << text << '"';
}

TEST(ReadValue, EachTypeReadsAsANumberAndABoolean) {
    // A string is read as text, so "YES" is true yet no number; a date is no count of seconds, data no text.
    // clang-format off
    const std::tuple<Value, double, bool> cases[] = {
        {Value::fromReal(0.5), 0.5, true},   {Value::fromInteger(-3), -3, true},
        {Value::fromBoolean(true), 1, true}, {Value::fromString("  42.5 "), 42.5, true},
        {Value::fromString("YES"), 0, true}, {Value::fromReal(0.0), 0, false},
        {Value::fromInteger(0), 0, false},   {Value::fromBoolean(false), 0, false},
        {Value::fromDate(12.0), 0, false},   {Value::fromData("1"), 0, false},
        {Value::fromArray({Value::fromInteger(1)}), 0, false}};
    // clang-format on
    for (const auto& [value, number, boolean] : cases) {
        EXPECT_EQ(plist::doubleValue(&value), number) << static_cast<int>(value.type());
        EXPECT_EQ(plist::boolValue(&value), boolean) << static_cast<int>(value.type());
    }
    EXPECT_TRUE(plist::doubleValue(nullptr) == 0 && !plist::boolValue(nullptr));
    const Value nan = Value::fromReal(std::nan(""));
    EXPECT_TRUE(std::isnan(plist::doubleValue(&nan)) && !plist::boolValue(&nan));
}

// Under a locale whose decimal separator is a comma, as QCoreApplication sets LC_NUMERIC when the user's
// environment asks for one, numbers still read a decimal point.
TEST(ReadText, NumbersIgnoreALocaleWithADecimalComma) {
    struct Restore {
        const std::string locale = std::setlocale(LC_NUMERIC, nullptr);
        const char* path = std::getenv("LOCPATH");
        const std::optional<std::string> savedPath = path ? std::optional<std::string>(path) : std::nullopt;
        ~Restore() {
            savedPath ? setenv("LOCPATH", savedPath->c_str(), 1) : unsetenv("LOCPATH");
            std::setlocale(LC_NUMERIC, locale.c_str());
        }
    } restore;
#ifdef VARNEL_TEST_LOCALE_DIR
    setenv("LOCPATH", VARNEL_TEST_LOCALE_DIR, 1); // the copy compiled into the build tree, else the system's
#endif
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma is installed or could be compiled in the build tree";
    ASSERT_EQ(std::strtod("37.9", nullptr), 37.0)
        << "the C library must be reading with a decimal comma here";
    EXPECT_EQ(plist::doubleValue(u"37.9"), 37.9);
    EXPECT_EQ(plist::doubleValue(u"37,9"), 37);
    EXPECT_EQ(plist::parseAll(u"<plist><real>37.9</real></plist>"), std::vector{Value::fromReal(37.9)});
}

} // namespace
