#include "services/channel_settings.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <sys/stat.h>

#include "capture/replacement_file.h"

using json = nlohmann::json;

namespace {

const char* const ANALOGUE_COLOURS[ANALOGUE_CHANNELS] = {"#f2c200", "#00b8d9"};
const char* const LOGIC_COLOURS[LOGIC_INPUTS] = {"#ff6b6b", "#ffa94d", "#ffd43b", "#a9e34b", "#69db7c", "#38d9a9",
                                                 "#3bc9db", "#4dabf7", "#748ffc", "#9775fa", "#da77f2", "#f783ac",
                                                 "#e8590c", "#2f9e44", "#1971c2", "#ae3ec9"};

// Characters of valid UTF-8 with no control character (C0, DEL, C1); -1 for a text that
// is not.
long printable_characters(const std::string& text) {
    long count = 0;
    for (size_t i = 0; i < text.size(); ++count) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return -1;
        uint32_t code = length == 1 ? c : c & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next >> 6) != 2) return -1;
            code = code << 6 | (next & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) return -1;
        i += length;
    }
    return count;
}

// One channel's entry read over its settings; false with the field and the message.
class entry_reader {
public:
    entry_reader(const json& entry, std::string prefix, std::string title, std::string& field, std::string& message)
        : entry_(entry), prefix_(std::move(prefix)), title_(std::move(title)), field_(field), message_(message) {}

    bool refuse(const std::string& key, const std::string& why) {
        field_ = prefix_ + "." + key;
        message_ = title_ + " " + why;
        return false;
    }

    bool text(const char* key, const char* what, size_t min, size_t max, bool bytes, std::string& out) {
        const auto found = entry_.find(key);
        if (found == entry_.end()) return true;
        if (!found->is_string()) return refuse(key, std::string(what) + ": takes a text");
        const std::string value = found->get<std::string>();
        const long characters = printable_characters(value);
        const size_t length = bytes ? value.size() : static_cast<size_t>(characters < 0 ? 0 : characters);
        if (characters < 0) return refuse(key, std::string(what) + ": holds a control character or is not UTF-8");
        if (length < min || length > max)
            return refuse(key, std::string(what) + ": takes " + std::to_string(min) + " to " + std::to_string(max) +
                                   (bytes ? " bytes" : " characters") + "; this one has " + std::to_string(length));
        out = value;
        return true;
    }

    bool colour(std::string& out) {
        const auto found = entry_.find("colour");
        if (found == entry_.end()) return true;
        const std::string value = found->is_string() ? found->get<std::string>() : found->dump();
        bool ok = found->is_string() && value.size() == 7 && value[0] == '#';
        for (size_t i = 1; ok && i < 7; ++i) ok = std::isxdigit(static_cast<unsigned char>(value[i])) != 0;
        if (!ok)
            return refuse("colour", "colour: '" + value.substr(0, 16) + "' is not a colour; give one as #rrggbb, "
                                                                        "such as #f2c200");
        out = value;
        for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return true;
    }

    // A finite number within min..max (an open end where open_min).
    bool number(const char* key, const char* what, double min, double max, bool open_min, double& out) {
        const auto found = entry_.find(key);
        if (found == entry_.end()) return true;
        if (!found->is_number()) return refuse(key, std::string(what) + ": takes a number");
        const double value = found->get<double>();
        if (!std::isfinite(value) || (open_min ? value <= min : value < min) || value > max) {
            char range[64];
            if (open_min) std::snprintf(range, sizeof range, "above %g, at most %g", min, max);
            else std::snprintf(range, sizeof range, "in %g..%g", min, max);
            return refuse(key, std::string(what) + ": " + found->dump() + " is not " + range);
        }
        out = value;
        return true;
    }

    bool boolean(const char* key, const char* what, bool& out) {
        const auto found = entry_.find(key);
        if (found == entry_.end()) return true;
        if (!found->is_boolean()) return refuse(key, std::string(what) + ": takes true or false");
        out = found->get<bool>();
        return true;
    }

    // Keys the entry may hold; false for another.
    bool only(std::initializer_list<const char*> keys) {
        for (const auto& item : entry_.items()) {
            bool known = false;
            for (const char* key : keys) known = known || item.key() == key;
            if (!known) {
                std::string list;
                for (const char* key : keys) list += (list.empty() ? "" : ", ") + std::string(key);
                const long characters = printable_characters(item.key());
                const std::string shown = characters >= 0 && item.key().size() <= 40 ? item.key() : "?";
                return refuse(shown, "has no setting '" + shown + "'; the settings are " + list);
            }
        }
        return true;
    }

private:
    const json& entry_;
    std::string prefix_, title_;
    std::string& field_;
    std::string& message_;
};

bool read_analogue(const json& entry, const std::string& prefix, analogue_channel_settings& c, std::string& field,
                   std::string& message) {
    entry_reader r(entry, prefix, "Channel " + c.id, field, message);
    if (!r.only({"id", "label", "colour", "on", "volts_per_code", "zero_code", "probe", "unit", "per_div", "position"}))
        return false;
    if (!r.text("label", "label", 1, MAX_LABEL_BYTES, true, c.label) || !r.colour(c.colour) ||
        !r.boolean("on", "on", c.on) || !r.text("unit", "unit", 1, MAX_UNIT_CHARACTERS, false, c.unit))
        return false;
    const auto volts = entry.find("volts_per_code");
    if (volts != entry.end()) {
        if (volts->is_null()) c.volts_per_code = 0;
        else if (!r.number("volts_per_code", "volts per code", 0, 1e6, true, c.volts_per_code)) return false;
    }
    double zero = c.zero_code, probe = c.probe;
    if (!r.number("zero_code", "zero code", 0, 255, false, zero)) return false;
    if (zero != std::floor(zero)) return r.refuse("zero_code", "zero code: takes a whole code 0..255");
    if (!r.number("probe", "probe", 0, 100, true, probe)) return false;
    if (probe != 1 && probe != 10 && probe != 100) return r.refuse("probe", "probe: takes 1, 10 or 100");
    c.zero_code = static_cast<int>(zero);
    c.probe = static_cast<int>(probe);
    return r.number("per_div", "per division", 0, 1e12, true, c.per_div) &&
           r.number("position", "position", -MAX_POSITION, MAX_POSITION, false, c.position);
}

bool read_logic(const json& entry, const std::string& prefix, logic_input_settings& c, std::string& field,
                std::string& message) {
    entry_reader r(entry, prefix, "Input " + c.id, field, message);
    return r.only({"id", "label", "colour"}) && r.text("label", "label", 1, MAX_LABEL_BYTES, true, c.label) &&
           r.colour(c.colour);
}

// The entries of one array, each matched to its channel by id or by its place.
template <typename Channel, typename Read>
bool read_list(const json& document, const char* key, Channel* channels, int count, const char* what, Read read,
               std::string& field, std::string& message) {
    const auto list = document.find(key);
    if (list == document.end()) return true;
    field = key;
    if (!list->is_array()) {
        message = std::string("the ") + key + " settings are a list of the " + what;
        return false;
    }
    if (list->size() > static_cast<size_t>(count)) {
        message = std::string("the ") + key + " settings list at most " + std::to_string(count) + " " + what + "; this " +
                  "list has " + std::to_string(list->size());
        return false;
    }
    bool seen[LOGIC_INPUTS] = {};
    for (size_t i = 0; i < list->size(); ++i) {
        const json& entry = (*list)[i];
        const std::string prefix = std::string(key) + "." + std::to_string(i);
        field = prefix;
        if (!entry.is_object()) {
            message = "each of the " + std::string(what) + " is an object: {\"id\": ..., \"label\": ...}";
            return false;
        }
        int index = static_cast<int>(i);
        const auto id = entry.find("id");
        if (id != entry.end()) {
            index = -1;
            for (int c = 0; c < count; ++c)
                if (id->is_string() && id->get<std::string>() == channels[c].id) index = c;
            if (index < 0) {
                field = prefix + ".id";
                message = id->dump().substr(0, 40) + " is not one of the " + what + " (" + channels[0].id + ".." +
                          channels[count - 1].id + ")";
                return false;
            }
        }
        if (seen[index]) {
            field = prefix + ".id";
            message = channels[index].id + " is listed twice";
            return false;
        }
        seen[index] = true;
        if (!read(entry, prefix, channels[index], field, message)) return false;
    }
    field.clear();
    return true;
}

}  // namespace

const analogue_channel_settings* channel_settings::analogue_named(const char* id) const {
    for (const auto& c : analogue)
        if (c.id == id) return &c;
    return nullptr;
}

channel_settings default_channel_settings() {
    channel_settings s;
    for (int i = 0; i < ANALOGUE_CHANNELS; ++i) {
        s.analogue[i].id = s.analogue[i].label = i == 0 ? "A" : "B";
        s.analogue[i].colour = ANALOGUE_COLOURS[i];
    }
    for (int i = 0; i < LOGIC_INPUTS; ++i) {
        s.logic[i].id = s.logic[i].label = "D" + std::to_string(i);
        s.logic[i].colour = LOGIC_COLOURS[i];
    }
    return s;
}

bool channel_settings_from_json(const json& document, channel_settings& out, std::string& field,
                                std::string& message) {
    channel_settings s = default_channel_settings();
    field.clear();
    if (!document.is_object()) {
        message = "the channel settings are an object: {\"analogue\": [...], \"logic\": [...]}";
        return false;
    }
    for (const auto& item : document.items()) {
        if (item.key() != "analogue" && item.key() != "logic") {
            const std::string shown = printable_characters(item.key()) >= 0 && item.key().size() <= 40 ? item.key() : "?";
            field = shown;
            message = "'" + shown + "' is not part of the channel settings; they are analogue and logic";
            return false;
        }
    }
    if (!read_list(document, "analogue", s.analogue, ANALOGUE_CHANNELS, "analogue channels", read_analogue, field,
                   message) ||
        !read_list(document, "logic", s.logic, LOGIC_INPUTS, "logic inputs", read_logic, field, message))
        return false;
    out = s;
    return true;
}

nlohmann::ordered_json channel_settings_json(const channel_settings& s) {
    nlohmann::ordered_json analogue = nlohmann::ordered_json::array(), logic = nlohmann::ordered_json::array();
    for (const auto& c : s.analogue)
        analogue.push_back({{"id", c.id},
                            {"label", c.label},
                            {"colour", c.colour},
                            {"on", c.on},
                            {"volts_per_code", c.scaled() ? nlohmann::ordered_json(c.volts_per_code) : nullptr},
                            {"zero_code", c.zero_code},
                            {"probe", c.probe},
                            {"unit", c.unit},
                            {"per_div", c.per_div},
                            {"position", c.position}});
    for (const auto& c : s.logic) logic.push_back({{"id", c.id}, {"label", c.label}, {"colour", c.colour}});
    return {{"analogue", analogue}, {"logic", logic}};
}

int read_channel_settings_file(const std::string& path, channel_settings& out, std::string& message) {
    out = default_channel_settings();
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        message = path + ": " + std::strerror(errno);
        return errno == ENOENT ? 1 : 5;
    }
    std::string text(MAX_CHANNEL_SETTINGS_BYTES + 1, '\0');
    const size_t got = std::fread(&text[0], 1, text.size(), in);
    const bool failed = std::ferror(in) != 0;
    const int error = errno;
    std::fclose(in);
    if (failed) {
        message = path + ": " + std::strerror(error);
        return 5;
    }
    text.resize(got);
    if (got > MAX_CHANNEL_SETTINGS_BYTES) {
        message = path + ": larger than the " + std::to_string(MAX_CHANNEL_SETTINGS_BYTES) + " bytes channel settings take";
        return 2;
    }
    // The settings nest 3 deep; the parser never meets a deeper text.
    struct too_deep {};
    json document;
    try {
        document = json::parse(text, [](int depth, json::parse_event_t, json&) {
            if (depth > 8) throw too_deep();
            return true;
        }, false);
    } catch (const too_deep&) {
        message = path + ": nests deeper than channel settings do";
        return 2;
    }
    if (document.is_discarded()) {
        message = path + ": not JSON";
        return 2;
    }
    std::string field, why;
    if (!channel_settings_from_json(document, out, field, why)) {
        out = default_channel_settings();
        message = path + ": " + (field.empty() ? "" : field + ": ") + why;
        return 2;
    }
    return 0;
}

bool write_channel_settings_file(const std::string& path, const channel_settings& settings, std::string& message) {
    // The folder and those above it, as mkdir -p makes them.
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        struct stat existing {};
        if (stat(folder.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) continue;
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            message = folder + ": " + std::strerror(errno);
            return false;
        }
    }
    const std::string text = channel_settings_json(settings).dump(2) + "\n";
    char buffer[8192];
    int error = 0;
    const int code = replace_through_stream(path.c_str(), buffer, sizeof buffer, [&](std::FILE* out) {
        const bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
        if (!ok) error = errno;
        return ok;
    });
    if (code != 0) {
        const int reason = error != 0 ? error : errno;
        message = path + ": " + (code == 9 ? "cannot be replaced: " : "cannot be written: ") + std::strerror(reason);
        return false;
    }
    return true;
}

std::string default_channel_settings_path() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return std::string(config) + "/korvane/channels.json";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/korvane/channels.json";
    return "";
}
