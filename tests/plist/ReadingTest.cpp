// Numbers and booleans read from values and from text, whatever the process locale.
#include "plist/PropertyList.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <string>
#include <utility>

using plist::Value;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ReadText, NumbersTakeTheLongestDecimalPrefix) {
    const std::pair<QStringView, double> cases[] = {
        {u"37.9", 37.9}, {u" \t\n37.9%", 37.9}, {u"-1.5e3x", -1500}, {u"+.5E-1", 0.05}, {u"5.", 5},
        {u"1e", 1},      {u"2e+", 2},           {u"1,5", 1},         {u"007", 7},       {u"", 0},
        {u"   ", 0},     {u"abc", 0},           {u".", 0},           {u"-", 0},         {u"e5", 0},
        {u"0x1A", 0},    {u"inf", 0},           {u"nan", 0},         {u"- 1", 0},       {u"\u0661\u0662", 0}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(plist::doubleValue(text), expected) << '"' << text.toString().toStdString() << '"';
    // A NUL ends the number like any other character, as do the digits of other scripts above.
    EXPECT_EQ(plist::doubleValue(QStringView(u"12\0003", 4)), 12);
}

TEST(ReadText, MagnitudesBeyondADoubleGiveAnInfinityOrZero) {
    const std::pair<QStringView, double> cases[] = {{u"1e400", kInf},      {u"-1e400", -kInf},
                                                    {u"1e-400", 0},        {u"4e-320", 4e-320},
                                                    {u"0e99999999999", 0}, {u"1e99999999999", kInf}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(plist::doubleValue(text), expected) << text.toString().toStdString();
}

TEST(ReadText, BooleansLookAtTheFirstSignificantCharacter) {
    // After white space, a sign and any zeros: Y, y, T, t or a digit 1-9.
    for (const char* text : {"YES", "true", "T", "  y", "-t", "1", "9", "+0001", "0y"})
        EXPECT_TRUE(plist::boolValue(QString::fromUtf8(text))) << '"' << text << '"';
    for (const char* text : {"", " ", "NO", "false", "00", "-0", "+", "x1", ".5", "- 1", "0x1"})
        EXPECT_FALSE(plist::boolValue(QString::fromUtf8(text))) << '"' << text << '"';
}

TEST(ReadValue, EachTypeReadsAsANumberAndABoolean) {
    // A string is read as text, so "YES" is true yet no number.
    const std::pair<Value, double> trueValues[] = {{Value::fromReal(0.5), 0.5},
                                                   {Value::fromInteger(-3), -3},
                                                   {Value::fromBoolean(true), 1},
                                                   {Value::fromString("  42.5 "), 42.5},
                                                   {Value::fromString("YES"), 0}};
    for (const auto& [value, number] : trueValues) {
        EXPECT_EQ(plist::doubleValue(&value), number) << static_cast<int>(value.type());
        EXPECT_TRUE(plist::boolValue(&value)) << static_cast<int>(value.type());
    }
    // Zero, and the types that have no number: a date is no count of seconds, data no text.
    const Value falseValues[] = {Value::fromReal(0.0),      Value::fromInteger(0),
                                 Value::fromBoolean(false), Value::fromDate(12.0),
                                 Value::fromData("1"),      Value::fromArray({Value::fromInteger(1)})};
    for (const Value& value : falseValues) {
        EXPECT_EQ(plist::doubleValue(&value), 0) << static_cast<int>(value.type());
        EXPECT_FALSE(plist::boolValue(&value)) << static_cast<int>(value.type());
    }
    EXPECT_EQ(plist::doubleValue(nullptr), 0);
    EXPECT_FALSE(plist::boolValue(nullptr));
    const Value nan = Value::fromReal(std::nan(""));
    EXPECT_TRUE(std::isnan(plist::doubleValue(&nan)));
    EXPECT_FALSE(plist::boolValue(&nan));
}

// Switches LC_NUMERIC to a locale whose decimal separator is a comma, as QCoreApplication does when the
// user's environment asks for one, and restores the previous locale afterwards.
class CommaLocale : public testing::Test {
protected:
    void SetUp() override {
        m_saved = std::setlocale(LC_NUMERIC, nullptr);
        if (const char* path = std::getenv("LOCPATH"))
            m_savedPath = path;
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "es_ES.UTF-8"}) {
            if (isComma(std::setlocale(LC_NUMERIC, name)))
                return;
        }
#ifdef VARNEL_TEST_LOCALE_DIR
        // The copy compiled into the build tree; glibc looks at LOCPATH on every setlocale call.
        setenv("LOCPATH", VARNEL_TEST_LOCALE_DIR, 1);
        if (isComma(std::setlocale(LC_NUMERIC, "de_DE.UTF-8")))
            return;
#endif
        GTEST_SKIP() << "no locale with a decimal comma is installed or could be compiled in the build tree";
    }

    void TearDown() override {
        std::setlocale(LC_NUMERIC, m_saved.c_str());
        if (m_savedPath)
            setenv("LOCPATH", m_savedPath->c_str(), 1);
        else
            unsetenv("LOCPATH");
    }

private:
    static bool isComma(const char* set) {
        return set && std::string(std::localeconv()->decimal_point) == ",";
    }

    std::string m_saved;
    std::optional<std::string> m_savedPath;
};

TEST_F(CommaLocale, NumbersStillReadADecimalPoint) {
    ASSERT_EQ(std::strtod("37.9", nullptr), 37.0)
        << "the C library must be reading with a decimal comma here";
    EXPECT_EQ(plist::doubleValue(u"37.9"), 37.9);
    EXPECT_EQ(plist::doubleValue(u"37,9"), 37);
    EXPECT_EQ(plist::parseAll(u"<plist><real>37.9</real></plist>"), std::vector{Value::fromReal(37.9)});
}

} // namespace
