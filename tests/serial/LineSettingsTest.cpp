#include "LineSettings.h"

#include "ErrorReport.h"
#include "PortNeighbours.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// The report for a bad text, or a failure if the text was accepted.
ErrorReport rejection(const QString &text)
{
    return reportFrom([&] { (void)LineSettings::parse(text); });
}

} // namespace

TEST(LineSettingsTest, DefaultIsNineThousandSixHundredEightNoneOne)
{
    const LineSettings settings;
    EXPECT_EQ(settings.baudRate(), 9600);
    EXPECT_EQ(settings.parity(), LineSettings::Parity::None);
    EXPECT_EQ(settings.dataBits(), 8);
    EXPECT_EQ(settings.stopBits(), LineSettings::StopBits::One);
    EXPECT_EQ(LineSettings::parse(u"9600,n,8,1"_s), settings);
}

TEST(LineSettingsTest, ParsesEveryFieldValue)
{
    const LineSettings a = LineSettings::parse(u"115200,E,7,2"_s);
    EXPECT_EQ(a.baudRate(), 115200);
    EXPECT_EQ(a.parity(), LineSettings::Parity::Even);
    EXPECT_EQ(a.dataBits(), 7);
    EXPECT_EQ(a.stopBits(), LineSettings::StopBits::Two);

    const LineSettings b = LineSettings::parse(u"2147483647,o,5,1.5"_s);
    EXPECT_EQ(b.baudRate(), 2147483647);
    EXPECT_EQ(b.parity(), LineSettings::Parity::Odd);
    EXPECT_EQ(b.dataBits(), 5);
    EXPECT_EQ(b.stopBits(), LineSettings::StopBits::OneAndHalf);

    EXPECT_EQ(LineSettings::parse(u"1,m,6,1"_s).parity(), LineSettings::Parity::Mark);
    EXPECT_EQ(LineSettings::parse(u"1,M,6,1"_s).parity(), LineSettings::Parity::Mark);
    EXPECT_EQ(LineSettings::parse(u"1,s,6,1"_s).parity(), LineSettings::Parity::Space);
    EXPECT_EQ(LineSettings::parse(u"1,S,6,1"_s).parity(), LineSettings::Parity::Space);
    EXPECT_EQ(LineSettings::parse(u"1,N,6,1"_s).parity(), LineSettings::Parity::None);
    EXPECT_EQ(LineSettings::parse(u"1,O,6,1"_s).parity(), LineSettings::Parity::Odd);
    EXPECT_EQ(LineSettings::parse(u"1,e,6,1"_s).parity(), LineSettings::Parity::Even);
    EXPECT_EQ(LineSettings::parse(u"1,n,6,1"_s).dataBits(), 6);
    EXPECT_EQ(LineSettings::parse(u"1,n,8,1"_s).dataBits(), 8);
    // Leading zeros are still decimal, not octal.
    EXPECT_EQ(LineSettings::parse(u"010,n,8,1"_s).baudRate(), 10);
}

TEST(LineSettingsTest, CanonicalTextParsesBackToTheSameSettings)
{
    for (const QString &text : {u"19200,E,7,2"_s, u"300,s,5,1.5"_s, u"9600,M,6,1"_s}) {
        const LineSettings settings = LineSettings::parse(text);
        EXPECT_EQ(LineSettings::parse(settings.toString()), settings) << text.toStdString();
    }
    EXPECT_EQ(LineSettings::parse(u"19200,E,7,2"_s).toString(), u"19200,e,7,2"_s);
}

TEST(LineSettingsTest, RejectsEachBadFieldByName)
{
    struct Case
    {
        QString text;
        QString field;
    };
    const Case cases[] = {
        {u"x9600,n,8,1"_s, u"baud rate"_s},
        {u"0,n,8,1"_s, u"baud rate"_s},
        {u"-9600,n,8,1"_s, u"baud rate"_s},
        {u"+9600,n,8,1"_s, u"baud rate"_s},
        {u" 9600,n,8,1"_s, u"baud rate"_s},
        {u"9600 ,n,8,1"_s, u"baud rate"_s},
        {u"96.0,n,8,1"_s, u"baud rate"_s},
        {u",n,8,1"_s, u"baud rate"_s},
        {u"2147483648,n,8,1"_s, u"baud rate"_s},
        {u"99999999999999999999,n,8,1"_s, u"baud rate"_s},
        {u"\u0669\u0666\u0660\u0660,n,8,1"_s, u"baud rate"_s}, // Arabic-Indic digits
        {u"9600,x,8,1"_s, u"parity"_s},
        {u"9600,,8,1"_s, u"parity"_s},
        {u"9600,no,8,1"_s, u"parity"_s},
        {u"9600, n,8,1"_s, u"parity"_s},
        {u"9600,n,4,1"_s, u"data bits"_s},
        {u"9600,n,9,1"_s, u"data bits"_s},
        {u"9600,n,08,1"_s, u"data bits"_s},
        {u"9600,n,,1"_s, u"data bits"_s},
        {u"9600,n,+8,1"_s, u"data bits"_s},
        {u"9600,n,8,0"_s, u"stop bits"_s},
        {u"9600,n,8,3"_s, u"stop bits"_s},
        {u"9600,n,8,1.0"_s, u"stop bits"_s},
        {u"9600,n,8,1,5"_s, u"four fields"_s},
        {u"9600,n,8,"_s, u"stop bits"_s},
        {u"9600,n,8,1 "_s, u"stop bits"_s},
    };
    for (const Case &c : cases) {
        const ErrorReport report = rejection(c.text);
        EXPECT_EQ(report.Number(), ErrorNumber::InvalidPropertyValue) << c.text.toStdString();
        EXPECT_TRUE(report.Description().contains(c.field))
            << c.text.toStdString() << " -> " << report.Description().toStdString();
        EXPECT_TRUE(report.Description().contains(u'"' + c.text + u'"'))
            << report.Description().toStdString();
    }
}

TEST(LineSettingsTest, RejectsWrongNumberOfFields)
{
    for (const QString &text : {u""_s, u"9600"_s, u"9600,n,8"_s, u"9600,n,8,1,"_s,
                                u"9600,n,8,1,1"_s, u"9600;n;8;1"_s}) {
        const ErrorReport report = rejection(text);
        EXPECT_EQ(report.Number(), ErrorNumber::InvalidPropertyValue) << text.toStdString();
        EXPECT_TRUE(report.Description().contains(u"four fields"_s))
            << report.Description().toStdString();
    }
}

TEST(LineSettingsTest, DescriptionReadsAsOneSentence)
{
    EXPECT_EQ(rejection(u"9600,x,8,1"_s).Description(),
              u"Invalid Settings \"9600,x,8,1\": parity must be one of n, e, o, m, s"_s);
}
