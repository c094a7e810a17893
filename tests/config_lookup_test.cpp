// The settings lookup, line by line.
#include "config_lookup.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

namespace {

constexpr const char *key = "PROTOCOL_FOR_PORTS_1_AND_2";

std::optional<std::string> lookup(const std::string &content, std::string_view sought = key)
{
    quorvel::File file(std::tmpfile());
    std::fwrite(content.data(), 1, content.size(), file.get());
    std::rewind(file.get());
    const auto value = quorvel::find_config_value(sought, std::move(file));
    return value ? std::optional<std::string>(value->text()) : std::nullopt;
}

struct LookupCase {
    const char *situation;
    std::string content;
    std::optional<std::string> expected;
};

TEST(FindConfigValue, FindsOnlyFirstColumnSettingsOfTheWholeKey)
{
    const std::string long_comment = "#" + std::string(300, 'x') + "\n";
    const std::vector<LookupCase> cases = {
        {"plain", "PROTOCOL_FOR_PORTS_1_AND_2=3\n", "3"},
        {"lower case key", "protocol_for_ports_1_and_2=3\n", "3"},
        {"mixed case key", "Protocol_For_Ports_1_And_2=1", "1"},
        {"blank before equals", "PROTOCOL_FOR_PORTS_1_AND_2 =3\n", std::nullopt},
        {"indented", "  PROTOCOL_FOR_PORTS_1_AND_2=3\n", std::nullopt},
        {"tab indented", "\tPROTOCOL_FOR_PORTS_1_AND_2=3\n", std::nullopt},
        {"commented out", "#PROTOCOL_FOR_PORTS_1_AND_2=3\n", std::nullopt},
        {"longer key", "PROTOCOL_FOR_PORTS_1_AND_23=3\n", std::nullopt},
        {"longer key before the real one", "PROTOCOL_FOR_PORTS_1_AND_23=3\nPROTOCOL_FOR_PORTS_1_AND_2=1\n", "1"},
        {"shorter key", "PROTOCOL_FOR_PORTS_1_AND=3\n", std::nullopt},
        {"key alone", "PROTOCOL_FOR_PORTS_1_AND_2\n", std::nullopt},
        {"section header ignored", "[Ports]\nPROTOCOL_FOR_PORTS_1_AND_2=0\n", "0"},
        {"first line wins", "PROTOCOL_FOR_PORTS_1_AND_2=1\nPROTOCOL_FOR_PORTS_1_AND_2=3\n", "1"},
        {"empty file", "", std::nullopt},
        {"other keys only", "PROTOCOL_FOR_PORTS_3_AND_4=1\nSLEW_RATE_FOR_PORTS_1_AND_2=1\n", std::nullopt},
        {"byte-order mark", "\xEF\xBB\xBFPROTOCOL_FOR_PORTS_1_AND_2=3\n", "3"},
        {"byte-order mark only at the start", "X=1\n\xEF\xBB\xBFPROTOCOL_FOR_PORTS_1_AND_2=3\n", std::nullopt},
        {"long comment hides nothing", "#" + std::string(254, 'x') + "PROTOCOL_FOR_PORTS_1_AND_2=3\n", std::nullopt},
        {"long value hides nothing",
         "OTHER=" + std::string(249, 'x') + "PROTOCOL_FOR_PORTS_1_AND_2=3\nPROTOCOL_FOR_PORTS_1_AND_2=1\n", "1"},
        {"line after a long line is a line", long_comment + "PROTOCOL_FOR_PORTS_1_AND_2=2\n", "2"},
        {"line of exactly 255 bytes then a setting", "#" + std::string(253, 'x') + "\nPROTOCOL_FOR_PORTS_1_AND_2=2\n",
         "2"},
        {"nul byte in a long line hides nothing",
         std::string("X\0", 2) + std::string(253, 'x') + "PROTOCOL_FOR_PORTS_1_AND_2=3\n", std::nullopt},
    };
    for (const auto &[situation, content, expected] : cases) {
        EXPECT_EQ(lookup(content), expected) << situation;
    }
}

TEST(FindConfigValue, TakesTheValueAfterLeadingWhiteSpaceUpToTheLineEnd)
{
    const std::vector<LookupCase> cases = {
        {"blanks around", "PROTOCOL_FOR_PORTS_1_AND_2=   1  \n", "1  "},
        {"tab and vertical tab before", "PROTOCOL_FOR_PORTS_1_AND_2=\t\v\f1\n", "1"},
        {"CRLF", "PROTOCOL_FOR_PORTS_1_AND_2=1\r\nX=2\r\n", "1"},
        {"empty value", "PROTOCOL_FOR_PORTS_1_AND_2=\nPROTOCOL_FOR_PORTS_1_AND_2=3\n", ""},
        {"empty value never reaches the next line", "PROTOCOL_FOR_PORTS_1_AND_2=   \n3\n", ""},
        {"empty value at the end of the file", "PROTOCOL_FOR_PORTS_1_AND_2=", ""},
        {"no line feed at the end", "PROTOCOL_FOR_PORTS_1_AND_2=2", "2"},
        {"text after the number kept", "PROTOCOL_FOR_PORTS_1_AND_2=1 # RS485\n", "1 # RS485"},
        {"equals sign in the value", "PROTOCOL_FOR_PORTS_1_AND_2==2\n", "=2"},
        {"bytes above 0x7F are no white space",
         "PROTOCOL_FOR_PORTS_1_AND_2=\xA0"
         "1\n",
         "\xA0"
         "1"},
        {"value ends at a nul byte",
         std::string("PROTOCOL_FOR_PORTS_1_AND_2=1\0"
                     "2\n",
                     31),
         "1"},
        {"value cut where the first piece ends", "PROTOCOL_FOR_PORTS_1_AND_2=" + std::string(300, '7') + "\n",
         std::string(255 - 27, '7')},
    };
    for (const auto &[situation, content, expected] : cases) {
        EXPECT_EQ(lookup(content), expected) << situation;
    }
}

// text (8-bit, one unit per byte) as UTF-16 with its byte-order mark.
std::string utf16(std::string_view text, bool big_endian)
{
    std::string file = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : text) {
        file += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return file;
}

TEST(FindConfigValue, ReadsAUtf16FileAsTheSameText)
{
    const std::string pair_le("\x3D\xD8\x00\xDE", 4); // U+1F600, one character in two units
    const std::string x80(1, '\x80');
    const std::vector<LookupCase> cases = {
        {"little-endian", utf16("# QUORVEL\r\nPROTOCOL_FOR_PORTS_1_AND_2=3\r\n", false), "3"},
        {"big-endian", utf16("protocol_for_ports_1_and_2= 1 \r\n", true), "1 "},
        {"mark only", "\xFF\xFE", std::nullopt},
        {"lone last byte dropped", utf16("PROTOCOL_FOR_PORTS_1_AND_2=1", false) + "2", "1"},
        {"non-ASCII character as one byte", utf16("PROTOCOL_FOR_PORTS_1_AND_2=2", false) + std::string("\xE9\0", 2),
         "2" + x80},
        {"non-ASCII key matches nothing",
         std::string("\xFF\xFE\x50\x01") + utf16("ROTOCOL_FOR_PORTS_1_AND_2=2", false).substr(2), std::nullopt},
        {"surrogate pair as one character",
         utf16("PROTOCOL_FOR_PORTS_1_AND_2=", false) + pair_le + pair_le + utf16("7\r\n", false).substr(2),
         x80 + x80 + "7"},
        {"lone surrogate as one character",
         utf16("PROTOCOL_FOR_PORTS_1_AND_2=", false) + "\x3D\xD8" + utf16("7", false).substr(2), x80 + "7"},
        {"UTF-8 mark inside is no mark", utf16("\xEF\xBB\xBFPROTOCOL_FOR_PORTS_1_AND_2=3", false), std::nullopt},
        // 255 characters to a piece, counted in characters, not bytes.
        {"long line counted in characters",
         utf16("OTHER=" + std::string(249, 'x') + "PROTOCOL_FOR_PORTS_1_AND_2=3\nPROTOCOL_FOR_PORTS_1_AND_2=1\n", true),
         "1"},
        {"value cut after 255 characters", utf16(std::string(key) + "=" + std::string(300, '7'), false),
         std::string(255 - 27, '7')},
    };
    for (const auto &[situation, content, expected] : cases) {
        EXPECT_EQ(lookup(content), expected) << situation;
    }
}

TEST(FindConfigValue, NeedsAnOpenFile)
{
    EXPECT_EQ(quorvel::find_config_value(key, nullptr), std::nullopt);
}

TEST(FindConfigValue, AFileThatCannotBeReadHoldsNoSetting)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows opens no directory as a file";
#endif
    // A directory opens for reading here, and every read of it fails.
    const quorvel::test::TempDir directory;
    quorvel::File file(std::fopen(directory.path().string().c_str(), "r"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(quorvel::find_config_value(key, std::move(file)), std::nullopt);
}

TEST(FindConfigValue, LinesAreWholeWhereverTheFileIsSplitIntoReads)
{
    // The file is read 8 KiB at a time; a setting line starting anywhere
    // near the end of a read, or much later, gives the same value: the
    // line's first 255 bytes, even when the line runs past the read.
    constexpr std::size_t read_size = 8192;
    const std::string setting = std::string(key) + "=3 # RS485 " + std::string(300, '.') + "\n";
    const std::string value = setting.substr(std::string_view(key).size() + 1, 255 - std::string_view(key).size() - 1);
    for (const std::size_t setting_offset :
         {read_size - 256, read_size - 255, read_size - 254, read_size - 230, read_size - 200, read_size - 30,
          read_size - 1, read_size, read_size + 1, 20 * read_size + 77}) {
        std::string content;
        while (content.size() + 2 < setting_offset) {
            const std::size_t line = std::min<std::size_t>(setting_offset - content.size() - 1, 300);
            content.append("#").append(line - 1, '-').append("\n");
        }
        content.resize(setting_offset, '\n');
        EXPECT_EQ(lookup(content + setting), value) << "setting at offset " << setting_offset;
        content += 'X';
        EXPECT_EQ(lookup(content + setting), std::nullopt) << "longer key at offset " << setting_offset;
    }
}

} // namespace
