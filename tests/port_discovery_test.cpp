// Port discovery against a scripted registry, below the platform seam, where
// data without a terminator and bytes left over from a previous query can be
// produced on purpose.
#include "platform.h"
#include "port_discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// Registry data as the test lays it out, byte for byte.
std::vector<std::uint8_t> utf16(std::u16string_view text, bool terminated = true)
{
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    if (terminated) {
        bytes.insert(bytes.end(), {0, 0});
    }
    return bytes;
}

struct ScriptedRegistry {
    bool map_exists = true;
    std::map<std::u16string, std::vector<std::uint8_t>> values;
    int opens = 0;
    int closes = 0;
    std::vector<std::u16string> queried;
} registry;

} // namespace

namespace quorvel::platform {

bool open_serial_port_map(KeyHandle &key)
{
    if (!registry.map_exists) {
        return false;
    }
    ++registry.opens;
    key = 0x1234;
    return true;
}

bool query_value(KeyHandle key, const char16_t *name, std::uint8_t *buffer, std::uint32_t &size)
{
    EXPECT_EQ(key, 0x1234u);
    EXPECT_EQ(size, 20u) << "every query offers the whole buffer";
    registry.queried.emplace_back(name);
    const auto found = registry.values.find(name);
    if (found == registry.values.end() || found->second.size() > size) {
        return false;
    }
    // Like the registry, only the data's own bytes are written.
    std::copy(found->second.begin(), found->second.end(), buffer);
    size = static_cast<std::uint32_t>(found->second.size());
    return true;
}

void close_key(KeyHandle /*key*/)
{
    ++registry.closes;
}

// Discovery never reaches the device.
void format_device_path(DevicePath & /*path*/, int /*port_number*/) {}
DeviceHandle open_device(const char16_t * /*path*/)
{
    return invalid_device;
}
bool send_device_request(DeviceHandle /*device*/, std::uint32_t /*code*/, const void * /*input*/,
                         std::uint32_t /*input_size*/, void * /*output*/, std::uint32_t /*output_size*/,
                         std::uint32_t &bytes_returned)
{
    bytes_returned = 0;
    return false;
}
int close_device(DeviceHandle /*device*/)
{
    return 0;
}
std::uint32_t last_error()
{
    return 0;
}
void set_last_error(std::uint32_t /*code*/) {}

} // namespace quorvel::platform

namespace {

class PortDiscovery : public ::testing::Test {
  protected:
    void SetUp() override { registry = ScriptedRegistry{}; }

    static void set_ports(std::initializer_list<std::u16string_view> names)
    {
        int digit = 0;
        for (const auto name : names) {
            registry.values[u"\\Device\\ser15x" + std::u16string(1, static_cast<char16_t>(u'0' + digit++))] =
                utf16(name);
        }
    }
};

TEST_F(PortDiscovery, SortsTheFourNumbersAscending)
{
    set_ports({u"COM7", u"COM3", u"COM12", u"COM4"});
    quorvel::PortNumbers ports{};
    ASSERT_EQ(quorvel::find_port_numbers(ports), 0);
    EXPECT_EQ(ports, (quorvel::PortNumbers{3, 4, 7, 12}));
    EXPECT_EQ(registry.queried, (std::vector<std::u16string>{u"\\Device\\ser15x0", u"\\Device\\ser15x1",
                                                             u"\\Device\\ser15x2", u"\\Device\\ser15x3"}));
    EXPECT_EQ(registry.closes, 1);
}

TEST_F(PortDiscovery, MissingFourthEntryFailsAfterThreeReadsAndClosesTheMap)
{
    set_ports({u"COM5", u"COM6", u"COM7"});
    quorvel::PortNumbers ports{};
    EXPECT_EQ(quorvel::find_port_numbers(ports), -1);
    EXPECT_EQ(registry.queried.size(), 4u);
    EXPECT_EQ(ports, (quorvel::PortNumbers{5, 6, 7, 0})) << "slots read before the failure keep their numbers";
    EXPECT_EQ(registry.closes, 1);
}

TEST_F(PortDiscovery, NoMapFailsWithoutReading)
{
    registry.map_exists = false;
    quorvel::PortNumbers ports{1, 2, 3, 4};
    EXPECT_EQ(quorvel::find_port_numbers(ports), -1);
    EXPECT_TRUE(registry.queried.empty());
    EXPECT_EQ(registry.closes, 0);
    EXPECT_EQ(ports, (quorvel::PortNumbers{1, 2, 3, 4}));
}

TEST_F(PortDiscovery, MalformedEntryFailsLikeAMissingOneAndClosesTheMap)
{
    set_ports({u"COM5", u"LPT1", u"COM7", u"COM8"});
    quorvel::PortNumbers ports{};
    EXPECT_EQ(quorvel::find_port_numbers(ports), -1);
    EXPECT_EQ(registry.queried.size(), 2u);
    EXPECT_EQ(registry.closes, 1);
}

TEST_F(PortDiscovery, UnterminatedDataDoesNotPickUpThePreviousQuerysBytes)
{
    set_ports({u"COM12", u"COM5", u"COM6", u"COM7"});
    registry.values[u"\\Device\\ser15x1"] = utf16(u"COM3", false);
    quorvel::PortNumbers ports{};
    ASSERT_EQ(quorvel::find_port_numbers(ports), 0);
    EXPECT_EQ(ports, (quorvel::PortNumbers{3, 6, 7, 12}));
}

TEST_F(PortDiscovery, DataLongerThanTheBufferFailsLikeAMissingEntry)
{
    set_ports({u"COM5", u"COM6", u"COM7", u"COM1234567"});
    quorvel::PortNumbers ports{};
    EXPECT_EQ(quorvel::find_port_numbers(ports), -1);
    EXPECT_EQ(registry.closes, 1);
}

struct ComNumberCase {
    std::vector<std::uint8_t> data;
    std::optional<std::int32_t> expected;
};

TEST(ParseComNumber, AcceptsOnlyComFollowedByAPositiveNumber)
{
    const std::vector<ComNumberCase> cases = {
        {utf16(u"COM9"), 9},
        {utf16(u"COM10"), 10},
        {utf16(u"COM123"), 123},
        {utf16(u"com4"), 4},
        {utf16(u"CoM4"), 4},
        {utf16(u"COM255", false), 255},
        {utf16(u"COM2147483647"), 2147483647},
        {utf16(u"COM2147483648"), std::nullopt},
        {utf16(u"COM99999999999"), std::nullopt},
        {utf16(u"COM0"), std::nullopt},
        {utf16(u"COM"), std::nullopt},
        {utf16(u""), std::nullopt},
        {{}, std::nullopt},
        {utf16(u"COM 3"), std::nullopt},
        {utf16(u"COM+3"), std::nullopt},
        {utf16(u"COM-3"), std::nullopt},
        {utf16(u"COM3x"), std::nullopt},
        {utf16(u"LPT3"), std::nullopt},
        {utf16(u"XCOM3"), std::nullopt},
        {utf16(u"COM\uFF13"), std::nullopt}, // a full-width digit is no digit
        {utf16(u"C\u014FM3"), std::nullopt}, // only the low byte of a unit looks like 'O'
    };
    for (const auto &[data, expected] : cases) {
        EXPECT_EQ(quorvel::parse_com_number(data.data(), data.size()), expected)
            << "data of " << data.size() << " bytes";
    }
}

TEST(ParseComNumber, ReadsOnlyTheGivenSizeAndStopsAtTheTerminator)
{
    auto data = utf16(u"COM12");
    EXPECT_EQ(quorvel::parse_com_number(data.data(), 8), 1) << "only COM1 was returned";
    EXPECT_EQ(quorvel::parse_com_number(data.data(), 9), 1) << "an odd last byte is no code unit";
    const auto with_stale_tail = utf16(std::u16string_view(u"COM3\0"
                                                           u"2",
                                                           6),
                                       false);
    EXPECT_EQ(quorvel::parse_com_number(with_stale_tail.data(), with_stale_tail.size()), 3);
}

TEST(SortPortNumbers, OrdersEveryArrangementAscending)
{
    quorvel::PortNumbers sorted{-5, 3, 3, 2147483647};
    quorvel::PortNumbers arrangement = sorted;
    do {
        quorvel::PortNumbers ports = arrangement;
        quorvel::sort_port_numbers(ports);
        EXPECT_EQ(ports, sorted);
    } while (std::next_permutation(arrangement.begin(), arrangement.end()));
}

} // namespace
