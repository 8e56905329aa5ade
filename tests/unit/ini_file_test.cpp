#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("zelk-ini-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "zelkappmgr.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void Write(const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // Sections and entries as "[name]k=v;k=v" lines, for comparing whole parses.
    static std::string Dump(const IniFile& ini) {
        std::string out;
        for (const auto& s : ini.Sections()) {
            out += "[" + s->name + "]";
            for (const auto& e : s->entries)
                out += e->key + "=" + e->value + ";";
            out += "\n";
        }
        return out;
    }

    fs::path dir;
    std::string path;
};

TEST_F(IniFileTest, CrLfAndLfGiveTheSameSectionsAndEntries) {
    const std::string lf = "[General]\nDisableCloseButton = 0\n\n[Applications]\nA = C:\\a.exe\n"
                           "B=C:\\b.exe\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    Write(lf);
    IniFile a(path);
    Write(crlf);
    IniFile b(path);
    ASSERT_TRUE(a.IsOpen());
    EXPECT_EQ("[General]DisableCloseButton=0;\n[Applications]A=C:\\a.exe;B=C:\\b.exe;\n", Dump(a));
    EXPECT_EQ(Dump(a), Dump(b));
}

TEST_F(IniFileTest, HeadersAreTakenFromTheTrimmedLineUpToTheFirstBracket) {
    Write("   [General]   \nk1=1\n[ General ]\nk2=2\n[General] trailing text\nk3=3\n[]\nk4=4\n"
          "[a]b]\nk5=5\n");
    IniFile ini(path);
    EXPECT_EQ("[General]k1=1;\n[ General ]k2=2;\n[General]k3=3;\n[]k4=4;\n[a]k5=5;\n", Dump(ini));
    std::string v = "default";
    EXPECT_FALSE(ini.GetString("General", "k2", v));
    EXPECT_EQ("default", v);
    EXPECT_TRUE(ini.GetString("", "k4", v));
    EXPECT_EQ("4", v);
}

TEST_F(IniFileTest, AHeaderWithoutClosingBracketEndsTheSectionAboveAndIsRecorded) {
    Write("[Lost\nbefore=1\n[One]\na=1\n  [Broken\nb=2\n[Two]\nc=3\n");
    IniFile ini(path);
    EXPECT_EQ("[One]a=1;\n[Two]c=3;\n", Dump(ini));
    EXPECT_EQ((std::vector<int>{1, 5}), ini.MalformedHeaderLines());
    ini.Clear();
    EXPECT_TRUE(ini.MalformedHeaderLines().empty());
}

TEST_F(IniFileTest, LinesBeforeTheFirstHeaderAndLinesWithoutEqualsAreIgnored) {
    Write("key=value\n=x\nloose words\n[S]\nno equals here\nk=v\n");
    IniFile ini(path);
    EXPECT_EQ("[S]k=v;\n", Dump(ini));
}

TEST_F(IniFileTest, KeyAndValueSplitAtTheFirstEquals) {
    Write("[S]\na = b = c\n=x\nx=\n  spaced key  =  spaced value  \nkey = v ; note\n");
    IniFile ini(path);
    EXPECT_EQ("[S]a=b = c;=x;x=;spaced key=spaced value;key=v ; note;\n", Dump(ini));
}

TEST_F(IniFileTest, CommentsStartOnlyAtTheBeginningOfALine) {
    Write("[S]\n  ; note\n# note\n#k=v\n;k=v\nk = v # not a comment\n");
    IniFile ini(path);
    EXPECT_EQ("[S]k=v # not a comment;\n", Dump(ini));
}

TEST_F(IniFileTest, TrimTakesOnlyItsFourBlanks) {
    EXPECT_EQ("a b", Trim(" \t\r\na b\n\r\t ", " \r\n\t"));
    EXPECT_EQ("\va\f", Trim(" \va\f ", " \r\n\t"));
    EXPECT_EQ("", Trim("", " \r\n\t"));
    EXPECT_EQ("", Trim(" \t \r\n", " \r\n\t"));
    EXPECT_EQ("\xA0x\xA0", Trim("\xA0x\xA0", " \r\n\t"));
    EXPECT_EQ("x", Trim("x", " \r\n\t"));
}

TEST_F(IniFileTest, LookupsIgnoreAsciiCaseOnly) {
    Write("[General]\nDisableCloseButton=0\n[\xC4pps]\n\xE4Key=1\n");
    IniFile ini(path);
    std::string v;
    EXPECT_TRUE(ini.GetString("general", "disableclosebutton", v));
    EXPECT_EQ("0", v);
    EXPECT_TRUE(ini.GetString("GENERAL", "DISABLECLOSEBUTTON", v));
    EXPECT_FALSE(ini.GetString("\xE4pps", "\xE4Key", v)) << "non-ASCII letters compare exactly";
    EXPECT_TRUE(ini.GetString("\xC4PPS", "\xE4KEY", v));
}

TEST_F(IniFileTest, TheFirstMatchInFileOrderWins) {
    Write("[Parameters]\nboth=first\nrepeat=1\nrepeat=2\n[Other]\nonly2=no\n[parameters]\n"
          "both=second\nonly2=found\n");
    IniFile ini(path);
    std::string v;
    EXPECT_TRUE(ini.GetString("Parameters", "both", v));
    EXPECT_EQ("first", v);
    EXPECT_TRUE(ini.GetString("Parameters", "only2", v));
    EXPECT_EQ("found", v);
    EXPECT_TRUE(ini.GetString("Parameters", "repeat", v));
    EXPECT_EQ("1", v);
    EXPECT_EQ(3u, ini.Sections().size()) << "sections of one name are never merged";
    EXPECT_EQ(3u, ini.Sections()[0]->entries.size()) << "a repeated key is kept";
}

TEST_F(IniFileTest, AByteOrderMarkAtTheStartIsSkipped) {
    Write("\xEF\xBB\xBF[Applications]\r\nA=a.exe\r\n\xEF\xBB\xBF[Parameters]\r\nA=-x\r\n");
    IniFile ini(path);
    EXPECT_EQ("[Applications]A=a.exe;A=-x;\n", Dump(ini))
        << "only the mark at the start of the file is skipped: the second header is none";
}

TEST_F(IniFileTest, EmptyAndMissingFiles) {
    Write("");
    IniFile empty(path);
    EXPECT_TRUE(empty.IsOpen());
    EXPECT_TRUE(empty.Sections().empty());
    std::string v = "keep";
    EXPECT_FALSE(empty.GetString("a", "b", v));

    IniFile missing((dir / "nothing.ini").string());
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_TRUE(missing.Sections().empty());
    bool flag = true;
    EXPECT_FALSE(missing.GetBool("General", "DisableCloseButton", flag));
    EXPECT_TRUE(flag);
    EXPECT_EQ("keep", v);
}

TEST_F(IniFileTest, ADirectoryIsNotAConfigurationFile) {
    fs::create_directories(dir / "zelkappmgr.ini.d");
    IniFile ini((dir / "zelkappmgr.ini.d").string());
    EXPECT_FALSE(ini.IsOpen());
    EXPECT_TRUE(ini.Sections().empty());
}

TEST_F(IniFileTest, GetBoolFollowsTheFirstCharacterOrTheLeadingNumber) {
    const struct {
        const char* value;
        bool expected;
    } cases[] = {
        {"y", true},         {"yes", true},   {"y anything", true},
        {"1", true},         {"-1", true},    {"2", true},
        {"10 apples", true}, {"0", false},    {"00", false},
        {"", false},         {"Yes", false},  {"YES", false},
        {"Y", false},        {"true", false}, {"on", false},
        {"no", false},       {"+3", true},    {"99999999999999999999", true},
        {"-0", false},
    };
    // Key names are appended piece by piece: GCC 12 at -O3 takes "k" +
    // std::to_string(i) for an overlapping copy (-Wrestrict).
    auto key = [](int i) {
        std::string name = "k";
        name += std::to_string(i);
        return name;
    };
    std::string file = "[General]\n";
    int i = 0;
    for (const auto& c : cases) {
        file += key(i++);
        file += '=';
        file += c.value;
        file += '\n';
    }
    Write(file);
    IniFile ini(path);
    i = 0;
    for (const auto& c : cases) {
        for (bool preset : {false, true}) {
            bool out = preset;
            EXPECT_TRUE(ini.GetBool("General", key(i), out)) << c.value;
            EXPECT_EQ(c.expected, out) << "value '" << c.value << "'";
        }
        ++i;
    }
    bool keep = true;
    EXPECT_FALSE(ini.GetBool("General", "missing", keep));
    EXPECT_TRUE(keep);
    keep = false;
    EXPECT_FALSE(ini.GetBool("Nowhere", "k0", keep));
    EXPECT_FALSE(keep);
}

TEST_F(IniFileTest, NulBytesAndBinaryGarbageParseWithoutHarm) {
    std::string bytes = "[Apps]\nA=x\0y\n\0[S\0T]\nk\0=v\n"s;
    std::mt19937 random(42);
    for (int i = 0; i < 200000; ++i)
        bytes.push_back(static_cast<char>(random() & 0xFF));
    Write(bytes);
    IniFile ini(path);
    EXPECT_TRUE(ini.IsOpen());
    ASSERT_FALSE(ini.Sections().empty());
    EXPECT_EQ("Apps", ini.Sections()[0]->name);
    std::string v;
    EXPECT_TRUE(ini.GetString("Apps", "A", v));
    EXPECT_EQ(std::string("x\0y", 3), v);
}

TEST_F(IniFileTest, AOneMegabyteLineIsOneEntry) {
    std::string big(1 << 20, 'v');
    Write("[S]\nk=" + big + "\nnext=1\n");
    IniFile ini(path);
    std::string v;
    ASSERT_TRUE(ini.GetString("S", "k", v));
    EXPECT_EQ(big.size(), v.size());
    EXPECT_TRUE(ini.GetString("S", "next", v));
}

TEST_F(IniFileTest, LoadingAMissingFileKeepsTheSectionsAndClearRemovesThem) {
    Write("[S]\nk=v\n");
    IniFile ini(path);
    EXPECT_FALSE(ini.Load((dir / "absent.ini").string()));
    EXPECT_FALSE(ini.IsOpen());
    EXPECT_EQ(1u, ini.Sections().size());
    ini.Clear();
    EXPECT_TRUE(ini.Sections().empty());
}

} // namespace
