// The log writer against its real file beside the test executable.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "settings/DKLog.h"
#include "settings/Configs.h"
#include "util/DKUtils.h"
#include "SysUtils.h"
#include "TestSupport.h"

using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = LogFileName();
        DeleteFileW(path.c_str());
        Config.LogPriority = 4;
    }
    void TearDown() override {
        DeleteFileW(path.c_str());
        Config.LogPriority = 4;
    }
    std::vector<std::string> Lines() {
        std::string s = ReadFileBytes(path);
        std::vector<std::string> out;
        size_t start = 0;
        for (size_t p; (p = s.find("\r\n", start)) != std::string::npos; start = p + 2)
            out.push_back(s.substr(start, p - start));
        EXPECT_EQ(start, s.size()) << "every line ends with CR LF";
        return out;
    }
    std::wstring path;
};

const std::regex kStamped(R"(^\d\d:\d\d:\d\d\.\d\d\d> .*$)");

}  // namespace

TEST_F(LogTest, NeverCreatesTheFile) {
    Config.LogPriority = 0;
    Log(4, L"nobody reads this");
    EXPECT_FALSE(gui::FileExists(path));
}

TEST_F(LogTest, ThresholdDecidesWhatIsWritten) {
    WriteFileBytes(path, "");
    Log(3, L"below default");
    Log(4, L"error line");
    Config.LogPriority = 0;
    Log(1, L"trace line");
    Config.LogPriority = 5;
    Log(4, L"above threshold");
    Log(255, L"top level");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[0], kStamped));
    EXPECT_EQ(lines[0].substr(12), "> error line");
    EXPECT_EQ(lines[1].substr(12), "> trace line");
    EXPECT_EQ(lines[2].substr(12), "> top level");
}

TEST_F(LogTest, MultiLineTextStampsOnlyTheFirstLine) {
    WriteFileBytes(path, "old line");  // no line end: it gets one before the new line
    Log(4, std::wstring(36, L'=') + L"\r\n" + std::wstring(15, L' ') + L"Program start... ( today )");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "old line");
    EXPECT_TRUE(std::regex_match(lines[1], kStamped));
    EXPECT_EQ(lines[1].substr(14), std::string(36, '='));
    EXPECT_EQ(lines[2], std::string(15, ' ') + "Program start... ( today )");
}

TEST_F(LogTest, AnsiByDefaultAndKeepsAByteOrderMark) {
    WriteFileBytes(path, "");
    Log(4, L"caf\u00e9");
    std::string ansi = ReadFileBytes(path);
    EXPECT_EQ(ansi.substr(12), std::string("> caf") + gui::ToAnsi(L"\u00e9") + "\r\n");

    WriteFileBytes(path, "\xEF\xBB\xBF" "first\r\n");
    Log(4, L"\u20ac sign");
    std::string utf8 = ReadFileBytes(path);
    EXPECT_EQ(utf8.substr(0, 10), "\xEF\xBB\xBF" "first\r\n");
    EXPECT_EQ(utf8.substr(10 + 12), "> \xE2\x82\xAC sign\r\n");

    WriteFileBytes(path, std::string("\xFF\xFE", 2));
    Log(4, L"wide");
    std::string wide = ReadFileBytes(path);
    std::wstring text(reinterpret_cast<const wchar_t*>(wide.data() + 2), (wide.size() - 2) / 2);
    EXPECT_EQ(text.substr(12), L"> wide\r\n");
}

TEST_F(LogTest, ConcurrentWritersLoseAndSplitNothing) {
    WriteFileBytes(path, "");
    constexpr int kThreads = 8, kLines = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                Log(4, L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i) + L" " + std::wstring(40, L'x'));
        });
    for (auto& w : workers) w.join();
    auto lines = Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::set<std::string> seen;
    const std::regex whole(R"(^\d\d:\d\d:\d\d\.\d\d\d> thread \d line \d+ x{40}$)");
    for (const auto& l : lines) {
        ASSERT_TRUE(std::regex_match(l, whole)) << l;
        seen.insert(l.substr(14));
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}
