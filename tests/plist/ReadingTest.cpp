// Numbers and booleans read from values and from text, whatever the process locale.
#include "plist/PropertyList.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <string>

using plist::Value;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ReadText, NumbersTakeTheLongestDecimalPrefix) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"37.9", 37.9},
        {" \t\n37.9%", 37.9},
        {"-1.5e3x", -1500},
        {"+.5E-1", 0.05},
        {"5.", 5},
        {"1e", 1},
        {"2e+", 2},
        {"3e-x", 3},
        {"1,5", 1},
        {"007", 7},
        {"", 0},
        {"   ", 0},
        {"abc", 0},
        {".", 0},
        {"-", 0},
        {"e5", 0},
        {"0x1A", 0},
        {"inf", 0},
        {"nan", 0},
        {"- 1", 0},
        {"1e400", kInf},
        {"-1e400", -kInf},
        {"1e-400", 0},
        {"4e-320", 4e-320},
        {"0e99999999999", 0},
        {"1e99999999999", kInf},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plist::doubleValue(QString::fromUtf8(c.text)), c.expected) << '"' << c.text << '"';
    // Digits of other scripts and a NUL end the number like any other character.
    EXPECT_EQ(plist::doubleValue(u"\u0661\u0662"), 0);
    EXPECT_EQ(plist::doubleValue(QStringView(u"12\0003", 4)), 12);
}

TEST(ReadText, BooleansLookAtTheFirstSignificantCharacter) {
    const char* trueTexts[] = {"YES", "yes", "true", "T", "1", "9", "-1", "+0001", "  y", "007", "0y", "-t"};
    const char* falseTexts[] = {"", " ", "NO", "no", "false", "0", "00", "-0", "+", "x1", "N", ".5", "- 1"};
    for (const char* text : trueTexts)
        EXPECT_TRUE(plist::boolValue(QString::fromUtf8(text))) << '"' << text << '"';
    for (const char* text : falseTexts)
        EXPECT_FALSE(plist::boolValue(QString::fromUtf8(text))) << '"' << text << '"';
}

TEST(ReadValue, EachTypeReadsAsANumberAndABoolean) {
    EXPECT_EQ(plist::doubleValue(nullptr), 0);
    EXPECT_FALSE(plist::boolValue(nullptr));
    const struct {
        Value value;
        double number;
        bool flag;
    } cases[] = {
        {Value::fromReal(37.9), 37.9, true},
        {Value::fromReal(0.0), 0, false},
        {Value::fromReal(0.5), 0.5, true},
        {Value::fromReal(std::nan("")), std::nan(""), false},
        {Value::fromInteger(-3), -3, true},
        {Value::fromInteger(0), 0, false},
        {Value::fromBoolean(true), 1, true},
        {Value::fromBoolean(false), 0, false},
        {Value::fromString("  42.5 "), 42.5, true},
        {Value::fromString("NO"), 0, false},
        {Value::fromDate(12.0), 0, false},
        {Value::fromData("1"), 0, false},
        {Value::fromArray({Value::fromInteger(1)}), 0, false},
        {Value::fromDictionary({{"a", Value::fromInteger(1)}}), 0, false},
        {Value(), 0, false},
    };
    for (const auto& c : cases) {
        const double number = plist::doubleValue(&c.value);
        if (std::isnan(c.number))
            EXPECT_TRUE(std::isnan(number));
        else
            EXPECT_EQ(number, c.number) << static_cast<int>(c.value.type());
        EXPECT_EQ(plist::boolValue(&c.value), c.flag) << static_cast<int>(c.value.type());
    }
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
    EXPECT_EQ(plist::doubleValue(u"1.25e2"), 125);
    const auto lists = plist::parseAll(u"<plist><dict><key>p</key><real>37.9</real><key>q</key>"
                                       u"<string>12.5</string></dict></plist> { p = 0.75; }");
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(plist::doubleValue(lists[0].find(u"p")), 37.9);
    EXPECT_EQ(plist::doubleValue(lists[0].find(u"q")), 12.5);
    EXPECT_EQ(plist::doubleValue(lists[1].find(u"p")), 0.75);
}

} // namespace
