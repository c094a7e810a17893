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

TEST(SettingFields, DefaultsFitTheirFields)
{
    for (const auto &field : quorvel::setting_fields) {
        EXPECT_EQ(quorvel::parse_setting_value(std::to_string(field.default_value), field.largest_value),
                  field.default_value)
            << field.key;
    }
}

} // namespace
