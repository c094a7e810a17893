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

TEST(FindConfigValue, NeedsAnOpenFile)
{
    EXPECT_EQ(quorvel::find_config_value(key, nullptr), std::nullopt);
}

TEST(FindConfigValue, AFileThatCannotBeReadHoldsNoSetting)
{
    // A directory opens for reading here, and every read of it fails.
    const quorvel::test::TempDir directory;
    quorvel::File file(std::fopen(directory.path().c_str(), "r"));
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
