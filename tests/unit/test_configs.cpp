// Settings file round trips through real .ini files.
#include <gtest/gtest.h>

#include "settings/Configs.h"
#include "IniFile.h"
#include "SysUtils.h"
#include "DataTestSupport.h"
#include "TestSupport.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

TConfig Load(const std::wstring& path) {
    TConfig c;
    LoadConfig(c, path);
    return c;
}

std::string SchemeText(int n, const char* name, const char* color0) {
    std::string s = "[Scheme" + std::to_string(n) + "]\r\nName=" + name + "\r\nTransparency=200\r\n";
    s += "MenuColors0=" + std::string(color0) + "\r\nMenuEnabling3=0\r\n";
    return s;
}

}  // namespace

TEST(Configs, NoFileGivesDefaultsAndTheBuiltInScheme) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    TConfig c = Load(ini);
    EXPECT_EQ(c.LogPriority, 4);
    EXPECT_FALSE(c.HideMenu);
    EXPECT_EQ(c.TipWindow.Top, 10);
    EXPECT_EQ(c.TipWindow.Left, 10);
    EXPECT_EQ(c.ActiveSchemeInd, 0);
    EXPECT_EQ(c.Scheme.size(), 1u);
    ASSERT_EQ(c.ClockFormats.Count(), 1);
    EXPECT_EQ(c.ClockFormats[0], L"");

    SaveConfig(c, ini);
    gui::IniFile f(ini);
    EXPECT_TRUE(f.SectionExists(L"TipWindow"));
    EXPECT_TRUE(f.SectionExists(L"General"));
    EXPECT_TRUE(f.SectionExists(L"Scheme0"));
    EXPECT_FALSE(f.SectionExists(L"Scheme1"));
    gui::StringList keys;
    f.ReadSectionValues(L"ClockFormats", keys);
    ASSERT_EQ(keys.Count(), 1);
    EXPECT_EQ(keys[0], L"0=");
    std::string text = ReadFileBytes(ini);
    EXPECT_NE(text.find("[ClockFormats]"), std::string::npos);
}

// The built-in scheme is a scheme section whose keys all take their defaults; once edited it is
// written and read back like any other.
TEST(Configs, FileWithoutSchemesGetsTheBuiltInSchemeAsAnEntryWrittenAtExit) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, "[General]\r\nLogPriority=1\r\n");
    TConfig c = Load(ini);
    ASSERT_EQ(c.Scheme.size(), 1u);
    TScheme& s = c.Scheme[0];
    EXPECT_EQ(&c.ActiveScheme(), &s);
    EXPECT_EQ(s.Name, L"Some Scheme");
    EXPECT_EQ(s.Transparency, 150);
    for (int i = 0; i < MENU_COUNT; ++i) {
        EXPECT_TRUE(s.MenuEnabling[i]);
        EXPECT_EQ(s.MenuColors[i], 145687u);
    }
    s.MenuColors[0] = 0x0000FF;
    SaveConfig(c, ini);
    gui::IniFile f(ini);
    EXPECT_EQ(f.ReadString(L"Scheme0", L"Name", L""), L"Some Scheme");
    EXPECT_EQ(f.ReadString(L"Scheme0", L"Transparency", L""), L"150");
    EXPECT_EQ(f.ReadString(L"Scheme0", L"MenuColors0", L""), L"$00FF");
    EXPECT_EQ(f.ReadString(L"Scheme0", L"MenuColors1", L""), L"$23917");
    TConfig back = Load(ini);
    ASSERT_EQ(back.Scheme.size(), 1u);
    EXPECT_EQ(back.Scheme[0].MenuColors[0], 0x0000FFu);
}

TEST(Configs, OutOfRangeIndexesAreClampedWhenUsed) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, "[General]\r\nActiveScheme=7\r\nActiveClockIndex=9\r\n" + SchemeText(0, "A", "1") +
                            SchemeText(1, "B", "2") + "[ClockFormats]\r\n0=hh:nn\r\n1=dd\r\n");
    TConfig c = Load(ini);
    EXPECT_EQ(c.ActiveSchemeInd, 7);  // kept as read, not trusted
    EXPECT_EQ(c.ActiveScheme().Name, L"B");
    EXPECT_EQ(c.ActiveClockFormat(), L"dd");
}

TEST(Configs, DeletedSchemeSectionIsErasedOnSave) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, SchemeText(0, "First", "$FF") + SchemeText(1, "Second", "255") + SchemeText(2, "Third", "0x10"));
    TConfig c = Load(ini);
    ASSERT_EQ(c.Scheme.size(), 3u);
    EXPECT_EQ(c.Scheme[2].MenuColors[0], 16u);
    EXPECT_FALSE(c.Scheme[0].MenuEnabling[3]);
    EXPECT_TRUE(c.Scheme[0].MenuEnabling[4]);
    EXPECT_EQ(c.Scheme[0].Transparency, 200);
    c.Scheme.erase(c.Scheme.begin() + 1);
    SaveConfig(c, ini);

    TConfig back = Load(ini);
    ASSERT_EQ(back.Scheme.size(), 2u);
    EXPECT_EQ(back.Scheme[0].Name, L"First");
    EXPECT_EQ(back.Scheme[1].Name, L"Third");
    EXPECT_FALSE(gui::IniFile(ini).SectionExists(L"Scheme2"));
}

TEST(Configs, GapInSchemesStopsLoadingAndErasing) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, SchemeText(0, "Zero", "1") + SchemeText(2, "Two", "2"));
    TConfig c = Load(ini);
    ASSERT_EQ(c.Scheme.size(), 1u);
    SaveConfig(c, ini);
    gui::IniFile f(ini);
    EXPECT_TRUE(f.SectionExists(L"Scheme2"));
    EXPECT_EQ(f.ReadString(L"scheme2", L"NAME", L""), L"Two");  // sections and keys ignore case

    // No [Scheme0]: the built-in scheme takes its place and the section past the gap stays.
    WriteFileBytes(ini, SchemeText(1, "One", "1"));
    TConfig builtIn = Load(ini);
    ASSERT_EQ(builtIn.Scheme.size(), 1u);
    EXPECT_TRUE(SaveConfig(builtIn, ini));
    gui::IniFile g(ini);
    EXPECT_TRUE(g.SectionExists(L"Scheme0"));
    EXPECT_EQ(g.ReadString(L"Scheme1", L"Name", L""), L"One");
}

TEST(Configs, ColoursReadInAnyFormAndWriteAsDollarHex) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, "[Scheme0]\r\nMenuColors0=$79FFBC\r\nMenuColors1=7995324\r\nMenuColors2=0x79ffbc\r\n"
                        "MenuColors3=$12\r\nMenuColors4=garbage\r\nTransparency=300\r\n"
                        "[General]\r\nLogPriority=$101\r\nHideMenu=7\r\n");
    TConfig c = Load(ini);
    ASSERT_EQ(c.Scheme.size(), 1u);
    EXPECT_EQ(c.Scheme[0].MenuColors[0], 7995324u);
    EXPECT_EQ(c.Scheme[0].MenuColors[1], 7995324u);
    EXPECT_EQ(c.Scheme[0].MenuColors[2], 7995324u);
    EXPECT_EQ(c.Scheme[0].MenuColors[4], 145687u);  // unreadable gives the default
    EXPECT_EQ(c.Scheme[0].Transparency, 300 & 0xFF);  // low eight bits
    EXPECT_EQ(c.LogPriority, 1);
    EXPECT_TRUE(c.HideMenu);
    SaveConfig(c, ini);
    gui::IniFile f(ini);
    EXPECT_EQ(f.ReadString(L"Scheme0", L"MenuColors1", L""), L"$79FFBC");
    EXPECT_EQ(f.ReadString(L"Scheme0", L"MenuColors3", L""), L"$0012");
    EXPECT_EQ(f.ReadString(L"Scheme0", L"MenuEnabling0", L""), L"1");
    EXPECT_EQ(f.ReadString(L"General", L"HideMenu", L""), L"1");
}

TEST(Configs, ClockFormatsKeepOrderAndValueParts) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, "[ClockFormats]\r\n0=hh:nn\r\n=dddd\r\n2=ddd hh:nn:ss\r\n3=a=b\r\n");
    TConfig c = Load(ini);
    ASSERT_EQ(c.ClockFormats.Count(), 4);
    EXPECT_EQ(c.ClockFormats[0], L"hh:nn");
    EXPECT_EQ(c.ClockFormats[1], L"");  // a line that begins with "=" is the empty format
    EXPECT_EQ(c.ClockFormats[2], L"ddd hh:nn:ss");
    EXPECT_EQ(c.ClockFormats[3], L"a=b");
    c.ClockFormats.lines.pop_back();
    SaveConfig(c, ini);
    TConfig back = Load(ini);
    ASSERT_EQ(back.ClockFormats.Count(), 3);
    EXPECT_EQ(back.ClockFormats[2], L"ddd hh:nn:ss");
}

TEST(Configs, EmptyClockSectionResetsActiveIndex) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, "[General]\r\nActiveClockIndex=3\r\nActiveScheme=2\r\n[TipWindow]\r\nTop=-40\r\nLeft=900\r\n");
    TConfig c = Load(ini);
    EXPECT_EQ(c.ActiveClockInd, 0);
    EXPECT_EQ(c.ActiveSchemeInd, 2);
    EXPECT_EQ(c.TipWindow.Top, -40);
    EXPECT_EQ(c.TipWindow.Left, 900);
}

// The file is written in one go with the text the profile functions wrote key by key: blank
// lines dropped, comments, other sections and a scheme after a gap kept, new sections at the end.
TEST(Configs, SaveRewritesTheWholeFileAsTheProfileFunctionsDid) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, "[General]\r\nActiveScheme=1\r\n\r\n; mine\r\n[Other]\r\n x = y \r\nlonely\r\n"
                        "[Scheme0]\r\nName=A\r\n[Scheme2]\r\nName=C\r\n[ClockFormats]\r\n0=hh\r\n");
    TConfig c = Load(ini);
    c.Scheme[0].Name = L"  Lead";
    c.Scheme[0].MenuEnabling[1] = false;
    SaveConfig(c, ini);
    std::string scheme = "[Scheme0]\r\nName=Lead\r\nTransparency=150\r\n";
    for (int i = 0; i < MENU_COUNT; ++i)
        scheme += "MenuEnabling" + std::to_string(i) + (i == 1 ? "=0" : "=1") + "\r\nMenuColors" +
                  std::to_string(i) + "=$23917\r\n";
    EXPECT_EQ(ReadFileBytes(ini), "[General]\r\nActiveScheme=1\r\n; mine\r\nActiveClockIndex=0\r\nHideMenu=0\r\n"
                                  "LogPriority=4\r\n[Other]\r\nx=y\r\nlonely\r\n" +
                                      scheme + "[Scheme2]\r\nName=C\r\n[TipWindow]\r\nTop=10\r\nLeft=10\r\n"
                                               "[ClockFormats]\r\n0=hh\r\n");
    EXPECT_FALSE(gui::FileExists(ini + L".new"));
}

namespace {

TConfig ManySchemes(const std::wstring& name) {
    TConfig c;
    c.ClockFormats.Add(L"hh:nn");
    c.Scheme.resize(500);
    for (TScheme& s : c.Scheme) s.Name = name;
    return c;
}

}  // namespace

// Run as a child by the test below: saves two settings in turn until it is killed.
TEST(Configs, SaveLoopChild) {
    wchar_t path[MAX_PATH];
    if (!GetEnvironmentVariableW(L"ORVANE_SAVE_LOOP", path, MAX_PATH)) GTEST_SKIP();
    TConfig a = ManySchemes(L"A"), b = ManySchemes(L"B");
    for (;;) {
        SaveConfig(a, path);
        SaveConfig(b, path);
    }
}

TEST(Configs, FiveHundredSchemesSaveQuicklyAndAKilledSaveLeavesAWholeFile) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    TConfig old = ManySchemes(L"Old");
    DWORD start = GetTickCount();
    SaveConfig(old, ini);
    EXPECT_LT(GetTickCount() - start, 5000u);  // key by key took most of a minute

    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    SetEnvironmentVariableW(L"ORVANE_SAVE_LOOP", ini.c_str());
    bool rewritten = false;
    for (int round = 0; round < 4; ++round) {
        HANDLE child = testing_support::StartProcess(L"\"" + std::wstring(exe) + L"\" --gtest_filter=Configs.SaveLoopChild");
        ASSERT_NE(child, nullptr);
        Sleep(400 + 97 * round);
        TerminateProcess(child, 1);
        WaitForSingleObject(child, 10000);
        CloseHandle(child);
        TConfig back = Load(ini);
        ASSERT_EQ(back.Scheme.size(), 500u) << round;
        EXPECT_EQ(back.Scheme.front().Name, back.Scheme.back().Name) << round;
        EXPECT_EQ(back.ClockFormats[0], L"hh:nn") << round;
        rewritten = rewritten || back.Scheme.front().Name != L"Old";
    }
    SetEnvironmentVariableW(L"ORVANE_SAVE_LOOP", nullptr);
    EXPECT_TRUE(rewritten);  // the child got to write before it was killed
}

namespace {

// The text in one of the encodings the profile functions read, with its mark.
std::string Encoded(const std::wstring& text, gui::MemIniFile::Encoding e) {
    using E = gui::MemIniFile::Encoding;
    if (e == E::Ansi) return gui::ToAnsi(text);
    if (e == E::Utf8) return "\xEF\xBB\xBF" + gui::ToUtf8(text);
    std::string out = e == E::Utf16LE ? "\xFF\xFE" : "\xFE\xFF";
    for (wchar_t c : text) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out += e == E::Utf16LE ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

}  // namespace

// Each encoding the profile functions read is read, and written back with its own mark: a
// big-endian file rewritten as ANSI lost every setting for good.
TEST(Configs, EveryEncodingIsReadAndKeptBySave) {
    using E = gui::MemIniFile::Encoding;
    const std::wstring wide = L"\x0421\x0445\x0435\x043C\x0430 \x263A";
    const std::wstring ansi = gui::FromAnsi(gui::ToAnsi(L"Caf\x00E9")) == L"Caf\x00E9" ? L"Caf\x00E9" : L"Cafe";
    for (E e : {E::Ansi, E::Utf8, E::Utf16LE, E::Utf16BE}) {
        SCOPED_TRACE(static_cast<int>(e));
        TempDir dir;
        std::wstring ini = dir / L"orvane.ini";
        const std::wstring name = e == E::Ansi ? ansi : wide;
        const std::string original = Encoded(L"[General]\r\nHideMenu=1\r\n[Scheme0]\r\nName=" + name +
                                                 L"\r\nMenuColors2=$79FFBC\r\n[ClockFormats]\r\n0=hh:nn\r\n",
                                             e);
        WriteFileBytes(ini, original);
        ASSERT_EQ(gui::IniFile(ini).ReadString(L"Scheme0", L"Name", L""), name);  // as Windows reads it

        TConfig c = Load(ini);
        EXPECT_TRUE(c.HideMenu);
        ASSERT_EQ(c.Scheme.size(), 1u);
        EXPECT_EQ(c.Scheme[0].Name, name);
        EXPECT_EQ(c.Scheme[0].MenuColors[2], 7995324u);
        EXPECT_EQ(c.ActiveClockFormat(), L"hh:nn");

        c.Scheme[0].Transparency = 77;
        ASSERT_TRUE(SaveConfig(c, ini));
        std::string saved = ReadFileBytes(ini);
        EXPECT_EQ(saved.substr(0, e == E::Utf8 ? 3 : e == E::Ansi ? 0 : 2), original.substr(0, e == E::Utf8 ? 3 : e == E::Ansi ? 0 : 2));
        EXPECT_EQ(gui::MemIniFile(ini).FileEncoding(), e);
        gui::IniFile profile(ini);
        EXPECT_EQ(profile.ReadString(L"Scheme0", L"Name", L""), name);
        EXPECT_EQ(profile.ReadInteger(L"Scheme0", L"Transparency", 0), 77);
        EXPECT_EQ(profile.ReadInteger(L"General", L"HideMenu", 0), 1);
        TConfig back = Load(ini);
        ASSERT_EQ(back.Scheme.size(), 1u);
        EXPECT_EQ(back.Scheme[0].Name, name);
        EXPECT_EQ(back.Scheme[0].Transparency, 77);
    }
}

// Read once in memory, the file gives what the profile functions give key by key.
TEST(Configs, TheFileReadOnceReadsAsTheProfileFunctionsRead) {
    TempDir dir;
    std::wstring ini = dir / L"odd.ini";
    WriteFileBytes(ini, "top=before any section\r\n[General]\r\n  Spaced Key  =   spaced value  \r\n"
                        "Quoted=\"in quotes\"\r\nSingle='single'\r\nHalf=\"open\r\nMixed=\"mixed'\r\nLonely\r\n"
                        "Dup=first\r\ndup=second\r\n;comment=not a key\r\n=empty name\r\nEmpty=\r\n"
                        "\tTabbed\t=\ttab\t\r\n[ Padded ]\r\nKey=padded section\r\n[general]\r\nDup=third\r\n"
                        "New=in the second General\r\n[Last]]\r\nKey=bracket\r\n[Broken\r\nKey=after broken header\r\n"
                        "[Empty section]\r\n[Only comment]\r\n; nothing here\r\n[Only lonely]\r\nword\n"
                        "[Unix]\nKey=unix lines\n");
    gui::IniFile profile(ini);
    gui::MemIniFile mem(ini);
    const std::pair<const wchar_t*, const wchar_t*> reads[] = {
        {L"General", L"Spaced Key"}, {L"General", L" spaced key "}, {L"General", L"Quoted"},
        {L"General", L"Single"},     {L"General", L"Half"},         {L"General", L"Mixed"},
        {L"General", L"Lonely"},     {L"GENERAL", L"DUP"},          {L"General", L";comment"},
        {L"General", L"Empty"},      {L"General", L"Tabbed"},       {L"General", L"New"},
        {L"General", L"missing"},    {L"Padded", L"Key"},           {L" Padded ", L"Key"},
        {L"Last]", L"Key"},          {L"Last", L"Key"},             {L"Broken", L"Key"},
        {L"Unix", L"Key"},           {L"Nowhere", L"Key"},          {L"Only lonely", L"word"}};
    for (auto [section, key] : reads)
        EXPECT_EQ(mem.ReadString(section, key, L"<default>"), profile.ReadString(section, key, L"<default>"))
            << gui::ToUtf8(section) << " / " << gui::ToUtf8(key);
    for (const wchar_t* section : {L"General", L"Last]", L"Only lonely", L"Only comment", L"Empty section", L"Unix",
                                   L"Nowhere", L" Padded "}) {
        gui::StringList a, b;
        mem.ReadSectionValues(section, a);
        profile.ReadSectionValues(section, b);
        EXPECT_EQ(a.lines, b.lines) << gui::ToUtf8(section);
        EXPECT_EQ(mem.SectionExists(section), profile.SectionExists(section)) << gui::ToUtf8(section);
    }
}

// A folder that takes no new file (only orvane.ini itself may be written): the file is rewritten
// where it stands. Its attributes are kept either way.
TEST(Configs, SavesWhereTheFolderTakesNoNewFileAndKeepsAttributes) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, SchemeText(0, "Mine", "$FF") + "[General]\r\nHideMenu=0\r\n" + std::string(4000, ';') + "\r\n");
    ASSERT_TRUE(SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    // Nothing of that name can be made beside it: the folder refuses the new file.
    ASSERT_TRUE(CreateDirectoryW((ini + L".new").c_str(), nullptr));

    TConfig c = Load(ini);
    c.HideMenu = true;
    ASSERT_TRUE(SaveConfig(c, ini));
    TConfig back = Load(ini);
    EXPECT_TRUE(back.HideMenu);
    ASSERT_EQ(back.Scheme.size(), 1u);
    EXPECT_EQ(back.Scheme[0].Name, L"Mine");
    EXPECT_EQ(ReadFileBytes(ini).find("Mine"), ReadFileBytes(ini).rfind("Mine"));  // no old text left behind
    EXPECT_EQ(GetFileAttributesW(ini.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(gui::DirectoryExists(ini + L".new"));

    // A shorter text in place leaves no tail of the longer one.
    back.Scheme.clear();
    ASSERT_TRUE(SaveConfig(back, ini));
    EXPECT_EQ(Load(ini).Scheme.at(0).Name, L"Some Scheme");  // none left: the built-in one
    EXPECT_EQ(ReadFileBytes(ini).find("Mine"), std::string::npos);

    // Through a new file that replaces the old one, the attributes stay too.
    RemoveDirectoryW((ini + L".new").c_str());
    back.HideMenu = false;
    ASSERT_TRUE(SaveConfig(back, ini));
    EXPECT_FALSE(Load(ini).HideMenu);
    EXPECT_EQ(GetFileAttributesW(ini.c_str()) & FILE_ATTRIBUTE_HIDDEN, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(gui::FileExists(ini + L".new"));
}

// A save that cannot be made leaves the old file whole and is logged; where the log cannot take
// the line either, the next start finds a note for the user.
TEST(Configs, AFailedSaveIsLoggedOrLeftForTheNextStart) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    const std::string old = "[General]\r\nHideMenu=0\r\n";
    WriteFileBytes(ini, old);
    ASSERT_TRUE(CreateDirectoryW((ini + L".new").c_str(), nullptr));
    TConfig c = Load(ini);
    // Another program holds it open for reading only: neither replaced nor written in place.
    HANDLE held = CreateFileW(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    c.HideMenu = true;
    {
        data_test::LogCapture log;
        EXPECT_FALSE(SaveConfig(c, ini));
        EXPECT_NE(log.Text().find("Settings could not be saved to " + gui::ToUtf8(ini) + ": "), std::string::npos)
            << log.Text();
        // The end routine's second try of the same save says nothing new.
        EXPECT_FALSE(SaveConfig(c, ini));
        EXPECT_EQ(log.Text().find("Settings could not"), log.Text().rfind("Settings could not"));
    }
    CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(ini), old);
    EXPECT_EQ(TakeUnsavedSettingsNote(ini), L"");

    // No log file: the note waits for the next start, and is shown once.
    std::wstring elsewhere = dir / L"gone\\orvane.ini";
    EXPECT_FALSE(SaveConfig(c, elsewhere));
    std::wstring note = TakeUnsavedSettingsNote(elsewhere);
    EXPECT_NE(note.find(L"could not be saved to " + elsewhere + L": "), std::wstring::npos) << gui::ToUtf8(note);
    EXPECT_EQ(TakeUnsavedSettingsNote(elsewhere), L"");
}

// A file that is there but cannot be read is not written over with defaults, neither when it
// could not be read at start nor when it cannot be read at the save.
TEST(Configs, AnUnreadableFileIsNotOverwritten) {
    TempDir dir;
    std::wstring ini = dir / L"orvane.ini";
    const std::string old = SchemeText(0, "Mine", "$FF") + "[Other]\r\nKept=1\r\n";
    WriteFileBytes(ini, old);

    HANDLE held = CreateFileW(ini.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TConfig c = Load(ini);
    CloseHandle(held);
    ASSERT_EQ(c.Scheme.size(), 1u);  // the bar starts with the built-in scheme
    EXPECT_EQ(c.Scheme[0].Name, L"Some Scheme");
    EXPECT_NE(c.LoadError, 0u);
    {
        data_test::LogCapture log;
        EXPECT_FALSE(SaveConfig(c, ini));
        EXPECT_NE(log.Text().find("Settings could not be saved to "), std::string::npos) << log.Text();
    }
    EXPECT_EQ(ReadFileBytes(ini), old);

    // Read at start, held by another program at the save.
    TConfig read = Load(ini);
    ASSERT_EQ(read.Scheme.size(), 1u);
    read.HideMenu = true;
    held = CreateFileW(ini.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SaveConfig(read, ini));
    CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(ini), old);
}
