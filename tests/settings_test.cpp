// Turning a value text into a setting, and packing the protocol register.
#include "settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct ValueCase {
    std::string text;
    int largest;
    std::optional<int> expected;
};

TEST(ParseSettingValue, AcceptsADecimalNumberThatFitsTheField)
{
    const std::vector<ValueCase> cases = {
        {"0", 3, 0},
        {"3", 3, 3},
        {"1", 1, 1},
        {"+2", 3, 2},
        {"-0", 3, 0},
        {"007", 7, 7},
        {" \t2", 3, 2},
        {"1 # RS485", 3, 1},
        {"2  ", 3, 2},
        {"1x", 3, 1},
        {"4", 3, std::nullopt},
        {"5", 3, std::nullopt},
        {"2", 1, std::nullopt},
        {"-1", 3, std::nullopt},
        {"RS485", 3, std::nullopt},
        {"", 3, std::nullopt},
        {"   ", 3, std::nullopt},
        {"+", 3, std::nullopt},
        {"- 1", 3, std::nullopt},
        {"0x1", 3, 0},
        {"2147483647", 2147483647, 2147483647},
        {"2147483648", 2147483647, std::nullopt},
        {"99999999999", 3, std::nullopt},
        {"-2147483648", 3, std::nullopt},
        {"00000000000000000000001", 3, 1},
    };
    for (const auto &[text, largest, expected] : cases) {
        EXPECT_EQ(quorvel::parse_setting_value(text, largest), expected) << '"' << text << '"';
    }
}

TEST(SettingFromText, TakesAValidNumberAndOtherwiseTheDefaultWithWhy)
{
    const quorvel::SettingField &protocol = quorvel::setting_fields[0];
    const quorvel::SettingField &slew = quorvel::setting_fields[2];
    struct Case {
        const quorvel::SettingField &field;
        std::optional<std::string> text;
        int value;
        quorvel::SettingSource source;
    };
    const Case cases[] = {
        {protocol, "3", 3, quorvel::SettingSource::file},
        {protocol, std::nullopt, 2, quorvel::SettingSource::not_found},
        {protocol, "5", 2, quorvel::SettingSource::not_valid},
        {protocol, "", 2, quorvel::SettingSource::not_valid},
        {slew, "1", 1, quorvel::SettingSource::file},
        {slew, std::nullopt, 0, quorvel::SettingSource::not_found},
        {slew, "2", 0, quorvel::SettingSource::not_valid},
    };
    for (const auto &[field, text, value, source] : cases) {
        const quorvel::Setting setting = quorvel::setting_from_text(field, text);
        EXPECT_EQ(setting.value, value) << field.key << " " << text.value_or("(not found)");
        EXPECT_EQ(setting.source, source) << field.key << " " << text.value_or("(not found)");
    }
}

TEST(ProtocolRegisterWord, PacksEachSettingIntoItsField)
{
    EXPECT_EQ(quorvel::protocol_register_word({2, 2, 0, 0}), 0x0A);
    EXPECT_EQ(quorvel::protocol_register_word({1, 0, 1, 1}), 0x31);
    EXPECT_EQ(quorvel::protocol_register_word({3, 0, 0, 0}), 0x03);
    EXPECT_EQ(quorvel::protocol_register_word({0, 3, 0, 0}), 0x0C);
    EXPECT_EQ(quorvel::protocol_register_word({0, 0, 1, 0}), 0x10);
    EXPECT_EQ(quorvel::protocol_register_word({0, 0, 0, 1}), 0x20);
    EXPECT_EQ(quorvel::protocol_register_word({3, 3, 1, 1}), 0x3F);
}

TEST(SettingsInWord, UnpacksWhatThePackingPutsAndIgnoresBits6And7)
{
    const quorvel::Settings cases[] = {{2, 2, 0, 0}, {1, 0, 1, 1}, {3, 0, 0, 0}, {0, 3, 0, 0},
                                       {0, 0, 1, 0}, {0, 0, 0, 1}, {3, 3, 1, 1}, {1, 2, 0, 1}};
    for (const auto &settings : cases) {
        const int word = quorvel::protocol_register_word(settings);
        EXPECT_EQ(quorvel::settings_in_word(word), settings) << word;
        EXPECT_EQ(quorvel::settings_in_word(word | 0xC0), settings) << word;
    }
}

TEST(SettingsFromFile, TellsAMissingFileFromOneThatCannotBeOpened)
{
    const quorvel::test::TempDir directory;
    // Something fopen cannot open although it is there: a link to itself
    // here; on Windows, where making a link needs a privilege, a directory.
    const auto unopenable = directory.path() / "Configuration.ini";
#ifdef _WIN32
    std::filesystem::create_directory(unopenable);
#else
    std::filesystem::create_symlink(unopenable, unopenable);
#endif
    directory.write("settings.ini", "PROTOCOL_FOR_PORTS_1_AND_2=1\nSLEW_RATE_FOR_PORTS_1_AND_2=9\n");
    using Source = quorvel::SettingSource;
    const struct {
        std::filesystem::path path;
        quorvel::Settings values;
        std::array<Source, 4> sources;
    } cases[] = {
        {directory.path() / "absent.ini",
         {2, 2, 0, 0},
         {Source::no_file, Source::no_file, Source::no_file, Source::no_file}},
        {unopenable,
         {2, 2, 0, 0},
         {Source::cannot_open, Source::cannot_open, Source::cannot_open, Source::cannot_open}},
        {directory.path() / "settings.ini",
         {1, 2, 0, 0},
         {Source::file, Source::not_found, Source::not_valid, Source::not_found}},
    };
    for (const auto &[path, values, sources] : cases) {
        const quorvel::SettingsFromFile settings = quorvel::settings_from_file(path.string().c_str());
        EXPECT_EQ(settings.values, values) << path;
        EXPECT_EQ(settings.sources, sources) << path;
    }
}

// The lines that name a key but do not set it as asked, as "line:field:reason"
// (reason as the NotReadReason's number).
std::string lines_not_read_in(const std::string &text)
{
    quorvel::ConfigPieces pieces(text);
    const quorvel::LinesNotRead lines = quorvel::lines_not_read(pieces);
    std::string result = lines.count != lines.listed() ? std::to_string(lines.count) + " found; " : "";
    for (std::size_t i = 0; i < lines.listed(); ++i) {
        result += (i == 0 ? "" : " ") + std::to_string(lines.lines[i].line) + ":" +
                  std::to_string(lines.lines[i].field) + ":" + std::to_string(static_cast<int>(lines.lines[i].reason));
    }
    return result;
}

TEST(LinesNotRead, ListsOnlyLinesThatNameAKeyAndDoNotSetIt)
{
    const std::string indented = "  PROTOCOL_FOR_PORTS_1_AND_2=1\n";
    std::string many;
    for (int i = 0; i < 20; ++i) {
        many += indented;
    }
    // reasons: 0 indented, 1 white space before =, 2 after a lone CR,
    // 3 a later line with another value, 4 past byte 255, 5 beyond ASCII
    const struct {
        const char *situation;
        std::string text;
        std::string expected;
    } cases[] = {
        {"CRLF ends a line: its CR is no lone CR", "PROTOCOL_FOR_PORTS_1_AND_2=1\r\nSLEW_RATE_FOR_PORTS_1_AND_2=1\r\n",
         ""},
        {"a CR at the end of the file", "PROTOCOL_FOR_PORTS_1_AND_2=1\r", ""},
        {"a key after a lone CR, even after a comment", "# settings\rSLEW_RATE_FOR_PORTS_1_AND_2=1\n", "1:2:2"},
        {"the same value again, written otherwise", "PROTOCOL_FOR_PORTS_1_AND_2=1\nprotocol_for_ports_1_and_2= 01\n",
         ""},
        {"another value again, one that is not valid", "PROTOCOL_FOR_PORTS_1_AND_2=1\nPROTOCOL_FOR_PORTS_1_AND_2=x\n",
         "2:0:3"},
        {"comments, indented ones too, and a longer key",
         "# PROTOCOL_FOR_PORTS_1_AND_2=1\n  # SLEW_RATE_FOR_PORTS_1_AND_2=1\n"
         "PROTOCOL_FOR_PORTS_1_AND_23=1\n[PROTOCOL_FOR_PORTS_1_AND_2=1]\n",
         ""},
        {"a byte-order mark at the start is no byte of the text", "\xEF\xBB\xBFPROTOCOL_FOR_PORTS_1_AND_2=1\n", ""},
        {"a tab before =, and the last line without its line feed",
         "SLEW_RATE_FOR_PORTS_3_AND_4\t=1\n\tPROTOCOL_FOR_PORTS_3_AND_4=1", "1:3:1 2:1:0"},
        {"a no-break space (UTF-8) before a key", "\xC2\xA0PROTOCOL_FOR_PORTS_1_AND_2=1\n", "1:0:5"},
        {"beyond ASCII after a value that is read", "PROTOCOL_FOR_PORTS_1_AND_2=1 \xC3\xA9\n", "1:0:5"},
        {"more lines than the list holds", many,
         "20 found; 1:0:0 2:0:0 3:0:0 4:0:0 5:0:0 6:0:0 7:0:0 8:0:0 9:0:0 "
         "10:0:0 11:0:0 12:0:0 13:0:0 14:0:0 15:0:0 16:0:0"},
    };
    for (const auto &[situation, text, expected] : cases) {
        EXPECT_EQ(lines_not_read_in(text), expected) << situation;
    }
}

TEST(SettingFields, DefaultsFitTheirFields)
{
    for (const auto &field : quorvel::setting_fields) {
        EXPECT_EQ(quorvel::parse_setting_value(std::to_string(field.default_value), field.largest_value),
                  field.default_value)
            << field.key;
    }
}

} // namespace
