#include "status_json.h"

#include <array>

namespace quorvel {
namespace {

// The length of the well-formed UTF-8 character at the start of bytes, and
// its code point; 0 when the first byte starts none (a stray continuation
// byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8_character(std::string_view bytes, char32_t &code_point)
{
    const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned lead = byte(0);
    std::size_t length = 0;
    // The second byte's range excludes the overlong forms and surrogates.
    unsigned second_low = 0x80;
    unsigned second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1FU;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0FU;
        second_low = lead == 0xE0 ? 0xA0 : 0x80;
        second_high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07U;
        second_low = lead == 0xF0 ? 0x90 : 0x80;
        second_high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned next = byte(i);
        if (next < (i == 1 ? second_low : 0x80U) || next > (i == 1 ? second_high : 0xBFU)) {
            return 0;
        }
        code_point = (code_point << 6U) | (next & 0x3FU);
    }
    return length;
}

constexpr std::array<std::string_view, 6> state_names{
    "matches",
    "differs",
    "boardNotRead",
    "configurationNotFound",
    "configurationCannotBeOpened",
    "configurationNotValid",
};

constexpr std::array<std::string_view, 6> reason_names{
    "indented", "spaceBeforeEquals", "afterLoneCR", "laterDuplicate", "beyond255Bytes", "byteAbove0x7E",
};

constexpr std::array<std::string_view, 6> reason_texts{
    "indented",
    "white space before =",
    "after a lone CR, which ends no line",
    "a line before it sets another value",
    "past byte 255 of its line",
    "a byte above 0x7E",
};

void write_number_or_null(std::FILE *out, std::optional<unsigned> number)
{
    if (number) {
        std::fprintf(out, "%u", *number);
    } else {
        std::fputs("null", out);
    }
}

} // namespace

int exit_status_of(BoardState state)
{
    // The same statuses as the text output's.
    switch (state) {
    case BoardState::matches:
    case BoardState::configuration_not_found:
        return 0;
    case BoardState::board_not_read:
        return 1;
    case BoardState::differs:
        return 2;
    case BoardState::configuration_cannot_be_opened:
    case BoardState::configuration_not_valid:
        return 4;
    }
    return 4;
}

std::string_view reason_text(NotReadReason reason)
{
    return reason_texts[static_cast<std::size_t>(reason)];
}

std::string_view reason_name(NotReadReason reason)
{
    return reason_names[static_cast<std::size_t>(reason)];
}

void write_json_string(std::FILE *out, std::string_view text)
{
    std::fputc('"', out);
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            std::fputc('\\', out);
            std::fputc(byte, out);
            ++i;
            continue;
        }
        if (byte >= 0x20 && byte < 0x7F) {
            std::fputc(byte, out);
            ++i;
            continue;
        }
        char32_t code_point = byte;
        // Not substr: its range check would link the C++ runtime's exception
        // code into the program (i is always inside text).
        const std::string_view rest(text.data() + i, text.size() - i);
        std::size_t length = byte < 0x80 ? 1 : utf8_character(rest, code_point);
        if (length == 0) {
            length = 1;
            code_point = byte;
        }
        if (code_point > 0xFFFF) {
            const char32_t offset = code_point - 0x10000;
            std::fprintf(out, "\\u%04X\\u%04X", static_cast<unsigned>(0xD800 + (offset >> 10U)),
                         static_cast<unsigned>(0xDC00 + (offset & 0x3FFU)));
        } else {
            std::fprintf(out, "\\u%04X", static_cast<unsigned>(code_point));
        }
        i += length;
    }
    std::fputc('"', out);
}

void write_status_json(std::FILE *out, const StatusReport &report)
{
    std::fputs("{\"state\":", out);
    write_json_string(out, state_names[static_cast<std::size_t>(report.state)]);
    std::fputs(",\"register0x13\":", out);
    write_number_or_null(out, report.scratch_register);
    std::fputs(",\"register0x10\":", out);
    write_number_or_null(out, report.protocol_register);
    std::fputs(",\"asked\":", out);
    write_number_or_null(out, report.asked);
    std::fputs(",\"settings\":[", out);
    for (std::size_t i = 0; i < setting_fields.size(); ++i) {
        const SettingSource source = report.configured.sources[i];
        std::fputs(i == 0 ? "{\"key\":" : ",{\"key\":", out);
        write_json_string(out, setting_fields[i].key);
        std::fputs(",\"text\":", out);
        if (const auto &text = report.configured.texts[i]) {
            write_json_string(out, *text);
        } else {
            std::fputs("null", out);
        }
        std::fprintf(out, ",\"value\":%d,\"default\":%s,\"notValid\":%s}", report.configured.values[i],
                     source == SettingSource::file ? "false" : "true",
                     source == SettingSource::not_valid ? "true" : "false");
    }
    std::fputs("],\"message\":", out);
    if (report.library_message.empty()) {
        std::fputs("null", out);
    } else {
        write_json_string(out, report.library_message);
    }
    std::fputs(",\"linesNotRead\":[", out);
    for (std::size_t i = 0; i < report.lines_not_read.listed(); ++i) {
        const LineNotRead &line = report.lines_not_read.lines[i];
        std::fprintf(out, "%s{\"line\":%lu,\"key\":", i == 0 ? "" : ",", static_cast<unsigned long>(line.line));
        write_json_string(out, setting_fields[line.field].key);
        std::fputs(",\"reason\":", out);
        write_json_string(out, reason_name(line.reason));
        std::fputs("}", out);
    }
    std::fputs("],\"windowsError\":", out);
    write_number_or_null(out, report.windows_error);
    std::fputs("}\n", out);
}

} // namespace quorvel
