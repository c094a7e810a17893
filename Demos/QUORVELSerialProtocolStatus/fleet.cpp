#include "fleet.h"

#include "file_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace quorvel {
namespace {

// Intune shows at most 2,048 characters of a script's last line.
constexpr std::size_t longest_fleet_line = 2048;

// Text put together piece by piece in a fixed buffer; what does not fit is
// cut off.
class Text {
  public:
    void add(std::string_view text)
    {
        const std::size_t count = std::min(text.size(), chars_.size() - 1 - size_);
        std::memcpy(chars_.data() + size_, text.data(), count);
        size_ += count;
    }

    // printf's formats: each call here passes a literal one.
    template <typename... Arguments> void add_format(const char *format, Arguments... arguments)
    {
        const int count = std::snprintf(chars_.data() + size_, chars_.size() - size_, format, arguments...);
        if (count > 0) {
            size_ = std::min(size_ + static_cast<std::size_t>(count), chars_.size() - 1);
        }
    }

    [[nodiscard]] std::string_view text() const { return {chars_.data(), size_}; }

  private:
    std::array<char, 4096> chars_{};
    std::size_t size_ = 0;
};

// Prints prefix and text as one line: every run of white space or control
// characters (a library message's line end) made one blank, at most
// longest_fleet_line characters.
void print_fleet_line(std::string_view prefix, std::string_view text)
{
    std::array<char, longest_fleet_line> line{};
    std::size_t size = 0;
    bool blank = false;
    for (const std::string_view part : {prefix, text}) {
        for (const char c : part) {
            const bool is_blank = static_cast<unsigned char>(c) <= ' ';
            if (size < line.size() && !(is_blank && blank)) {
                line[size++] = is_blank ? ' ' : c;
            }
            blank = is_blank;
        }
    }
    std::printf("%.*s\n", static_cast<int>(size), line.data());
}

std::string_view key_of(std::size_t field)
{
    return setting_fields[field].key;
}

// Adds what keeps settings from being read as written, each item after
// separator but the first; returns whether there was anything.
// beyond_ascii_line: the first line holding a byte above 0x7E, 0 for none.
bool add_problems(Text &text, std::string_view separator, const SettingsFromFile &settings, const LinesNotRead &lines,
                  std::size_t beyond_ascii_line)
{
    bool any = false;
    const auto next = [&text, &any, separator] { text.add(std::exchange(any, true) ? separator : ""); };
    for (std::size_t i = 0; i < lines.listed(); ++i) {
        next();
        const std::string_view reason = reason_text(lines.lines[i].reason);
        const std::string_view key = key_of(lines.lines[i].field);
        text.add_format("line %lu is not read (%.*s): %.*s", static_cast<unsigned long>(lines.lines[i].line),
                        static_cast<int>(reason.size()), reason.data(), static_cast<int>(key.size()), key.data());
    }
    if (lines.count > lines.listed()) {
        next();
        text.add_format("%lu more lines are not read", static_cast<unsigned long>(lines.count - lines.listed()));
    }
    for (std::size_t i = 0; i < setting_fields.size(); ++i) {
        if (settings.sources[i] == SettingSource::not_valid) {
            next();
            text.add_format("%.*s is not valid", static_cast<int>(key_of(i).size()), key_of(i).data());
        }
    }
    if (beyond_ascii_line != 0) {
        next();
        text.add_format("line %lu holds a byte above 0x7E (settings are ASCII only)",
                        static_cast<unsigned long>(beyond_ascii_line));
    }
    return any;
}

// The first line of pieces that holds a byte above 0x7E; 0 for none.
std::size_t first_line_beyond_ascii(ConfigPieces &pieces)
{
    std::size_t line = 1;
    while (const auto piece = pieces.next()) {
        for (const char c : piece->text) {
            if (static_cast<unsigned char>(c) > 0x7E) {
                return line;
            }
        }
        line += piece->text.back() == '\n' ? 1 : 0;
    }
    return 0;
}

// "(0x1D: ports 1-2 protocol 1, slew rate 1; ports 3-4 protocol 3, slew
// rate 0)", "(default)" after a value the file does not give.
void add_settings(Text &text, const SettingsFromFile &configured)
{
    text.add_format(" (0x%02X: ", static_cast<unsigned>(protocol_register_word(configured.values)));
    const auto value = [&text, &configured](const char *label, std::size_t field) {
        text.add_format("%s%d%s", label, configured.values[field],
                        configured.sources[field] == SettingSource::file ? "" : " (default)");
    };
    value("ports 1-2 protocol ", 0);
    value(", slew rate ", 2);
    value("; ports 3-4 protocol ", 1);
    value(", slew rate ", 3);
    text.add(")");
}

constexpr unsigned wanted_scratch = 0xC0;

// The state as the line after "QUORVEL: " tells it, with a short cause;
// returns the fleet exit status.
int add_state(Text &text, const Observation &seen)
{
    switch (seen.state) {
    case BoardState::matches:
        text.add("the board matches Configuration.ini");
        add_settings(text, seen.configured);
        return 0;
    case BoardState::differs: {
        text.add("the board differs from Configuration.ini: ");
        const auto asked = static_cast<unsigned>(protocol_register_word(seen.configured.values));
        const bool scratch_differs = seen.board.scratch != wanted_scratch;
        if (scratch_differs) {
            text.add_format("register 0x13 0x%02X, not 0x%02X", seen.board.scratch, wanted_scratch);
        }
        // Bits 6 and 7 hold no setting and are not compared.
        if ((seen.board.protocol & 0x3FU) != asked) {
            text.add_format("%sboard 0x%02X, Configuration.ini asks for 0x%02X", scratch_differs ? "; " : "",
                            seen.board.protocol, asked);
        }
        add_settings(text, seen.configured);
        return 2;
    }
    case BoardState::board_not_read:
        text.add("the board cannot be reached");
        if (seen.message_size > 0) {
            text.add(": ");
            text.add(std::string_view(seen.message.data(), seen.message_size));
        }
        return 1;
    case BoardState::configuration_not_found:
        text.add("Configuration.ini not found");
        return 4;
    case BoardState::configuration_cannot_be_opened:
        text.add("Configuration.ini cannot be opened");
        return 4;
    case BoardState::configuration_not_valid:
        text.add("Configuration.ini is not read as written: ");
        add_problems(text, "; ", seen.configured, seen.lines_not_read, 0);
        return 4;
    }
    return 4;
}

// The settings a script carries, line ends made line feeds, none at the end.
constexpr std::size_t carried_capacity = std::size_t{32} * 1024;
std::array<char, carried_capacity> carried_buffer;
std::array<char, carried_capacity + 1> installed_buffer;

enum class Carried { none, too_long, present };

// Text with each CRLF made LF and no line feed at its end, in place.
std::string_view comparable(char *text, std::size_t size)
{
    std::size_t out = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (!(text[i] == '\r' && i + 1 < size && text[i + 1] == '\n')) {
            text[out++] = text[i];
        }
    }
    while (out > 0 && text[out - 1] == '\n') {
        --out;
    }
    return {text, out};
}

Carried read_carried(std::string_view &text)
{
    const auto size = environment_text("QUORVEL_CARRIED_CONFIGURATION", carried_buffer.data(), carried_buffer.size());
    if (!size) {
        // Not set, or longer than any variable a script can set on Windows.
        return std::getenv("QUORVEL_CARRIED_CONFIGURATION") == nullptr ? Carried::none : Carried::too_long;
    }
    text = comparable(carried_buffer.data(), *size);
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > ' ') {
            return Carried::present;
        }
    }
    return Carried::none;
}

enum class FileRead { read, not_found, cannot_be_opened, too_long };

// The bytes of the file at path, made comparable.
FileRead read_installed(const char *path, std::string_view &text)
{
    errno = 0;
    File file(std::fopen(path, "rb"));
    if (!file) {
        return errno == ENOENT ? FileRead::not_found : FileRead::cannot_be_opened;
    }
    const std::size_t size = std::fread(installed_buffer.data(), 1, installed_buffer.size(), file.get());
    if (std::ferror(file.get()) != 0) {
        return FileRead::cannot_be_opened; // a folder of that name, where a file opens on POSIX
    }
    if (size == installed_buffer.size()) {
        return FileRead::too_long;
    }
    text = comparable(installed_buffer.data(), size);
    return FileRead::read;
}

// Writes text as CRLF lines to new_path, then puts it in place of target
// in one step; 0 or the error.
int install(std::string_view text, const char *new_path, const char *target)
{
    errno = 0;
    File file(std::fopen(new_path, "wb"));
    if (!file) {
        return errno != 0 ? errno : -1;
    }
    bool written = true;
    for (const char c : text) {
        written = written && (c != '\n' || std::fputc('\r', file.get()) != EOF) && std::fputc(c, file.get()) != EOF;
    }
    written = written && std::fputs("\r\n", file.get()) != EOF;
    if (std::fclose(file.release()) != 0 || !written) {
        std::remove(new_path);
        return -1;
    }
    const int error = replace_file(new_path, target);
    if (error != 0) {
        std::remove(new_path);
    }
    return error;
}

// Files of the install the scripts rely on; the first missing, or nullptr.
const char *missing_install_file(const char *folder)
{
    for (const char *name : {"QUORVELSerialProtocolStatus.exe", "QUORVELSerialProtocolSelection.exe", "QUORVEL.dll",
                             "apply-configuration.cmd"}) {
        const auto path = path_in(folder, name);
        errno = 0;
        File file(path ? std::fopen(path->chars.data(), "rb") : nullptr);
        if (!file && errno == ENOENT) {
            return name;
        }
    }
    return nullptr;
}

// The judgement of a fleet mode: the text after "QUORVEL: " and the status.
int judge(FleetMode mode, const char *folder, std::optional<int> applied, Text &text)
{
    const auto configuration = path_in(folder, "Configuration.ini");
    const auto new_configuration = path_in(folder, "Configuration.ini.new");
    if (!configuration || !new_configuration) {
        text.add("the install folder's name is too long");
        return 4;
    }
    if (const char *missing = missing_install_file(folder)) {
        text.add_format("not installed: %s not found", missing);
        return 4;
    }
    std::string_view carried;
    const Carried carries = read_carried(carried);
    if (carries == Carried::too_long) {
        text.add_format("the settings this script carries are refused: longer than %lu bytes",
                        static_cast<unsigned long>(carried_capacity));
        return 4;
    }
    if (carries == Carried::present) {
        ConfigPieces lines_pieces(carried);
        std::size_t beyond_ascii = 0;
        // Every byte counts here, a byte-order mark at the start as well.
        for (std::size_t i = 0, line = 1; i < carried.size() && beyond_ascii == 0; ++i) {
            beyond_ascii = static_cast<unsigned char>(carried[i]) > 0x7E ? line : 0;
            line += carried[i] == '\n' ? 1 : 0;
        }
        text.add("the settings this script carries are refused: ");
        if (add_problems(text, "; ", settings_from_text(carried), lines_not_read(lines_pieces), beyond_ascii)) {
            return 4;
        }
        text = Text{};
        std::string_view installed;
        const FileRead read = read_installed(configuration->chars.data(), installed);
        if (read == FileRead::cannot_be_opened) {
            text.add("Configuration.ini cannot be opened");
            return 4;
        }
        const bool same = read == FileRead::read && installed == carried;
        if (mode == FleetMode::install_carried) {
            if (same) {
                std::remove(new_configuration->chars.data()); // left by a run cut short
                return 0;
            }
            if (const int error = install(carried, new_configuration->chars.data(), configuration->chars.data())) {
                text.add_format("Configuration.ini cannot be replaced (error %d): it is left as it was", error);
                return 4;
            }
            return 0;
        }
        if (read == FileRead::not_found) {
            text.add("Configuration.ini not found");
            return 4;
        }
        if (!same) {
            text.add("Configuration.ini differs from the settings this script carries");
            return 4;
        }
    } else if (mode == FleetMode::install_carried) {
        std::remove(new_configuration->chars.data()); // left by a run cut short
        return 0;
    }
    const Observation seen = observe(configuration->chars.data());
    Text state;
    int status = add_state(state, seen);
    if (applied && *applied != 0 && seen.state != BoardState::matches) {
        // A write the board refused, when it could be read again afterwards.
        if (seen.state == BoardState::differs) {
            text.add_format("apply-configuration.cmd ended with status %d (see apply-configuration.log); ", *applied);
        }
        status = *applied;
    }
    text.add(state.text());
    return status;
}

} // namespace

std::optional<Path> path_in(const char *folder, const char *name)
{
    Path path;
    // "/" separates on Windows as well, in the C runtime and in MoveFileEx.
    const int length = folder == nullptr ? std::snprintf(path.chars.data(), path.chars.size(), "%s", name)
                                         : std::snprintf(path.chars.data(), path.chars.size(), "%s/%s", folder, name);
    if (length < 0 || static_cast<std::size_t>(length) >= path.chars.size()) {
        return std::nullopt;
    }
    return path;
}

int run_fleet_mode(FleetMode mode, const char *folder, std::optional<int> applied)
{
    Text text;
    const int status = judge(mode, folder, applied, text);
    if (mode == FleetMode::compliance) {
        // A Configuration Manager rule "Equals Compliant" reads the value
        // whole: nothing may follow it.
        print_fleet_line(status == 0 ? "Compliant" : "NonCompliant: ", status == 0 ? "" : text.text());
    } else if (mode == FleetMode::line || status != 0) {
        print_fleet_line("QUORVEL: ", text.text());
    }
    return status;
}

int check_settings_file(const char *path)
{
    const SettingsFromFile settings = settings_from_file(path);
    if (settings.sources[0] == SettingSource::no_file || settings.sources[0] == SettingSource::cannot_open) {
        std::printf("%s %s\n", path, settings.sources[0] == SettingSource::no_file ? "not found" : "cannot be opened");
        return 4;
    }
    File file(std::fopen(path, "r"));
    std::size_t beyond_ascii = 0;
    if (file) {
        ConfigPieces pieces(file.get());
        beyond_ascii = first_line_beyond_ascii(pieces);
    }
    Text separator;
    separator.add_format("\n%s: ", path);
    Text text;
    text.add(std::string_view(separator.text().data() + 1, separator.text().size() - 1)); // no line end first
    if (add_problems(text, separator.text(), settings, lines_not_read_in_file(path), beyond_ascii)) {
        std::printf("%.*s\n", static_cast<int>(text.text().size()), text.text().data());
        return 4;
    }
    std::printf("%s is read as written\n", path);
    return 0;
}

} // namespace quorvel
