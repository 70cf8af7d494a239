// The notification-area block read at its fixed offsets, and the caption rule, on byte arrays.
#include <gtest/gtest.h>

#include <vector>

#include "TrayMenu.h"

namespace {

void Put32(std::vector<BYTE>& b, size_t off, DWORD v) {
    for (int i = 0; i < 4; ++i) b[off + static_cast<size_t>(i)] = static_cast<BYTE>(v >> (8 * i));
}

void PutTip(std::vector<BYTE>& b, const std::wstring& tip) {
    for (size_t i = 0; i < tip.size(); ++i) {
        b[32 + 2 * i] = static_cast<BYTE>(tip[i] & 0xFF);
        b[33 + 2 * i] = static_cast<BYTE>(tip[i] >> 8);
    }
}

std::vector<BYTE> Block() {
    std::vector<BYTE> b(964, 0);
    Put32(b, 0, 0x34753423u);
    Put32(b, 4, 1);
    Put32(b, 8, 956);
    Put32(b, 12, 0x00010ABCu);
    Put32(b, 16, 42);
    Put32(b, 20, 7);
    Put32(b, 24, WM_APP + 5);
    Put32(b, 28, 0xFFFF8001u);  // a handle with its top bit set widens as the system widens it
    PutTip(b, L"Tip \u00e9");
    Put32(b, 808, 10000);
    return b;
}

}  // namespace

TEST(TrayBlock, FieldsAreReadAtTheirOffsets) {
    std::vector<BYTE> b = Block();
    TTrayNotifyData d;
    ASSERT_TRUE(ParseTrayCopyData(b.data(), b.size(), d));
    EXPECT_EQ(d.Message, 1u);
    EXPECT_EQ(d.hWnd, reinterpret_cast<HWND>(static_cast<INT_PTR>(0x00010ABC)));
    EXPECT_EQ(d.uID, 42u);
    EXPECT_EQ(d.uFlags, 7u);
    EXPECT_EQ(d.uCallbackMessage, static_cast<DWORD>(WM_APP + 5));
    EXPECT_EQ(d.hIcon, reinterpret_cast<HICON>(static_cast<INT_PTR>(static_cast<LONG>(0xFFFF8001u))));
    EXPECT_EQ(d.szTip, L"Tip \u00e9");
    EXPECT_EQ(d.uTimeout, 10000u);
    // Only the low byte counts: a timeout of 10000 reads as version 16.
    EXPECT_EQ(d.Version(), 16);
}

TEST(TrayBlock, ShortOrMissingBlocksAreRefused) {
    std::vector<BYTE> b = Block();
    TTrayNotifyData d;
    EXPECT_FALSE(ParseTrayCopyData(nullptr, 964, d));
    EXPECT_FALSE(ParseTrayCopyData(b.data(), 0, d));
    EXPECT_FALSE(ParseTrayCopyData(b.data(), 808, d));
    // Without the signature (Wine's own layout starts with the owner window) it is refused.
    std::vector<BYTE> unsigned_block = b;
    Put32(unsigned_block, 0, 0x0001006Au);
    EXPECT_FALSE(ParseTrayCopyData(unsigned_block.data(), unsigned_block.size(), d));
    // Exactly what the host reads: the version byte is the last one taken.
    b[808] = 4;
    std::vector<BYTE> cut(b.begin(), b.begin() + 809);
    ASSERT_TRUE(ParseTrayCopyData(cut.data(), cut.size(), d));
    EXPECT_EQ(d.Version(), 4);
    EXPECT_EQ(d.uID, 42u);
}

TEST(TrayBlock, TipStopsAtItsNulOrAfter128Characters) {
    std::vector<BYTE> b = Block();
    // 130 letters and no NUL: the tip field holds 128 of them, what follows is not read.
    PutTip(b, std::wstring(130, L'x'));
    TTrayNotifyData d;
    ASSERT_TRUE(ParseTrayCopyData(b.data(), b.size(), d));
    EXPECT_EQ(d.szTip, std::wstring(128, L'x'));
    PutTip(b, std::wstring(L"ab\0cd", 5));
    ASSERT_TRUE(ParseTrayCopyData(b.data(), b.size(), d));
    EXPECT_EQ(d.szTip, L"ab");
}

TEST(TrayCaptionRule, FirstTipLineThenWindowTextThenExeName) {
    EXPECT_EQ(TrayCaption(L"  Volume: 50%\r\nMuted", L"Owner", L"a.exe"), L"Volume: 50%");
    EXPECT_EQ(TrayCaption(L"One\nTwo\rThree", L"", L""), L"One");
    // A blank tip falls back to the window text, then to the file name, then to a fixed text.
    EXPECT_EQ(TrayCaption(L" \t ", L"  Owner Window ", L"a.exe"), L"Owner Window");
    EXPECT_EQ(TrayCaption(L"", L"   ", L"a.exe"), L"a.exe");
    EXPECT_EQ(TrayCaption(L"", L"", L""), L"Unknown icon...");
    // A tip with text only after its first break: line 0 is empty, the window text is not asked.
    EXPECT_EQ(TrayCaption(L"\r\nSecond", L"Owner", L"a.exe"), L"a.exe");
    // The window text is taken up to 255 characters.
    EXPECT_EQ(TrayCaption(L"", std::wstring(300, L'w'), L""), std::wstring(255, L'w'));
}
