// Clock formats: the format letters and the empty format.
#include <gtest/gtest.h>

#include "FormatDateTime.h"

using gui::FormatDateTime;

namespace {
SYSTEMTIME At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(mo);
    t.wDay = static_cast<WORD>(d);
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(mi);
    t.wSecond = static_cast<WORD>(s);
    t.wMilliseconds = static_cast<WORD>(ms);
    FILETIME ft;
    SystemTimeToFileTime(&t, &ft);
    FileTimeToSystemTime(&ft, &t);  // fills the day of the week
    return t;
}
}  // namespace

TEST(FormatDateTime, NumbersNamesAndMinutesAfterHours) {
    SYSTEMTIME t = At(2026, 3, 7, 9, 5, 4, 30);
    EXPECT_EQ(FormatDateTime(L"hh:nn", t), L"09:05");
    EXPECT_EQ(FormatDateTime(L"h:m:s.zzz", t), L"9:5:4.030");
    EXPECT_EQ(FormatDateTime(L"d.m.yy", t), L"7.3.26");
    EXPECT_EQ(FormatDateTime(L"dd.mm.yyyy", t), L"07.03.2026");
    EXPECT_EQ(FormatDateTime(L"dddd, mmmm d", t), L"Saturday, March 7");
    EXPECT_EQ(FormatDateTime(L"ddd mmm", t), L"Sat Mar");
    EXPECT_EQ(FormatDateTime(L"HH:NN:SS", t), L"09:05:04");
}

TEST(FormatDateTime, TwelveHourClockAndQuotedText) {
    SYSTEMTIME t = At(2026, 12, 8, 0, 30, 0);
    EXPECT_EQ(FormatDateTime(L"h:nn am/pm", t), L"12:30 am");
    SYSTEMTIME pm = At(2026, 12, 8, 13, 30, 0);
    EXPECT_EQ(FormatDateTime(L"hh:nn AM/PM", pm), L"01:30 PM");
    EXPECT_EQ(FormatDateTime(L"h a/p", pm), L"1 p");
    EXPECT_EQ(FormatDateTime(L"'day' d \"of\" m", pm), L"day 8 of 12");
}

TEST(FormatDateTime, EmptyFormatIsShortDateBlankLongTime) {
    SYSTEMTIME t = At(2026, 12, 8, 21, 4, 5);
    std::wstring s = FormatDateTime(L"", t);
    EXPECT_EQ(s, FormatDateTime(L"c", t));
    EXPECT_EQ(s, FormatDateTime(L"ddddd", t) + L" " + FormatDateTime(L"tt", t));
    EXPECT_NE(s.find(L"2026"), std::wstring::npos);
}
