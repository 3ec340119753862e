#include "services/capture_settings.h"

#include "services/capture_names.h"
#include "services/text_values.h"

namespace {

const struct {
    const char* setting;
    const char* title;
} SETTINGS[] = {{"mode", "Mode"},   {"rate", "Sample rate"}, {"trigger", "Trigger"},       {"level", "Level"},
                {"pattern", "Pattern"}, {"edge", "Edge"},    {"pretrigger", "Pre-trigger"}};

// The text with each {setting} named by name().
template <typename Name>
std::string named(const std::string& text, Name name) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const size_t open = text.find('{', at), close = open == std::string::npos ? open : text.find('}', open);
        if (close == std::string::npos) {
            out.append(text, at, std::string::npos);
            break;
        }
        out.append(text, at, open - at);
        out += name(text.substr(open + 1, close - open - 1));
        at = close + 1;
    }
    return out;
}

bool refuse(setting_refusal& refusal, const char* setting, const std::string& text, const std::string& page) {
    refusal = {setting, text, page};
    return false;
}

// A mode's trigger sources as the page's list names them.
std::string page_sources(int8_t mode) {
    switch (mode) {
    case MODE_DUAL: return "Channel A, Channel B, External or None";
    case MODE_MIXED: return "Logic inputs, Channel B, External or None";
    case MODE_LOGIC16: return "Logic inputs, External or None";
    default: return "Channel A, External or None";
    }
}

}  // namespace

bool check_capture_settings(const capture_settings& s, run_settings& h, setting_refusal& refusal) {
    h = run_settings{};
    const char* mode_name = mode_option_name(s.mode);
    if (mode_name == nullptr)
        return refuse(refusal, "mode", "mode " + std::to_string(s.mode) + " is not a capture mode; use dual, single, "
                                                                          "logic16 or mixed",
                      "Mode must be Dual Channel, Single Channel, 16 Bit Logic Analyser or Mixed Mode");
    h.capture_mode = s.mode;

    const int rate = rate_index_from_text(s.rate, s.mode);
    if (rate < 0)
        return refuse(refusal, "rate", "'" + s.rate + "' is not a rate of " + mode_name + " mode; use one of " +
                                           rate_list(s.mode) + ", or an index 0..5",
                      "Sample rate: " + s.rate + " is not a rate of " + capture_mode_title(s.mode) + "; choose one of " +
                          rate_list(s.mode));
    h.sample_rate_index = static_cast<int8_t>(rate);

    if (s.trigger_source < TRIGGER_EXTERNAL || s.trigger_source > TRIGGER_NONE)
        return refuse(refusal, "trigger", "source " + std::to_string(s.trigger_source) + " is not a trigger source; use "
                                                                                        "a, b, external or none",
                      "Trigger must be " + page_sources(s.mode));
    h.trigger_source = s.trigger_source;
    if (h.trigger_source == TRIGGER_CHANNEL_B && !(s.mode == MODE_DUAL || s.mode == MODE_MIXED))
        return refuse(refusal, "trigger", "channel B is not a trigger source in " + std::string(mode_name) +
                                              " mode; use a, external or none",
                      std::string("Channel B is no trigger in ") + capture_mode_title(s.mode) + "; choose " +
                          page_sources(s.mode));

    // Channel B outside Dual Channel and Mixed Mode was refused above.
    const bool analogue = is_level_trigger(s.mode, h.trigger_source);
    const bool pattern = is_pattern_trigger(s.mode, h.trigger_source);
    if (s.level_given && !analogue)
        return refuse(refusal, "level", std::string("a level belongs to an analogue trigger source (") +
                                            (s.mode == MODE_MIXED ? "b" : s.mode == MODE_LOGIC16 ? "none here" : "a or b") +
                                            ")" + (pattern ? "; a logic trigger takes {pattern}" : ""),
                      pattern ? "A logic trigger has no level: it takes a pattern"
                      : s.mode == MODE_LOGIC16 ? "16 Bit Logic Analyser has no level: it has no analogue channel"
                      : h.trigger_source == TRIGGER_NONE ? "Level must be left empty with no trigger"
                                                         : "Level belongs to a channel trigger, not an external one");
    if (s.level < MIN_LEVEL || s.level > MAX_LEVEL)
        return refuse(refusal, "level", std::to_string(s.level) + " is not in " + std::to_string(MIN_LEVEL) + ".." +
                                            std::to_string(MAX_LEVEL), "");
    if (s.pattern_given && !pattern)
        return refuse(refusal, "pattern", "a pattern belongs to the logic trigger source: {trigger} a in logic16 or "
                                          "mixed mode",
                      "Pattern belongs to a trigger on the logic inputs (16 Bit Logic Analyser or Mixed Mode)");
    if (s.edge_given && (pattern || h.trigger_source == TRIGGER_NONE))
        return refuse(refusal, "edge", pattern ? "a pattern trigger has no edge" : "a capture with {trigger} none has no edge",
                      pattern ? "A pattern trigger has no edge" : "Edge must be left empty with no trigger");
    if (s.edge != 0 && s.edge != 1)
        return refuse(refusal, "edge", "edge " + std::to_string(s.edge) + " is neither rising nor falling",
                      "Edge must be rising or falling");
    if (s.pretrigger < 0 || s.pretrigger > MAX_PRETRIGGER)
        return refuse(refusal, "pretrigger", std::to_string(s.pretrigger) + " is not in 0.." + std::to_string(MAX_PRETRIGGER),
                      "");
    if (s.pretrigger != 0 && h.trigger_source == TRIGGER_NONE)
        return refuse(refusal, "pretrigger", "a capture with {trigger} none keeps no samples from before its trigger; "
                                             "leave {pretrigger} at 0",
                      "Pre-trigger must be 0 with no trigger");

    h.pretrigger = static_cast<int32_t>(s.pretrigger);
    h.trigger_edge = s.edge;
    if (analogue) {
        h.trigger_value = static_cast<uint16_t>(s.level + TRIGGER_LEVEL_OFFSET);
    } else if (pattern) {
        const uint32_t limit = s.mode == MODE_LOGIC16 ? 0xFFFF : 0xFF;
        uint32_t value = 0;
        if (!parse_hex_value(s.pattern, limit, value))
            return refuse(refusal, "pattern", "'" + s.pattern + "' is not a pattern of " +
                                                  (limit == 0xFF ? "8 bits (0x0..0xff)" : "16 bits (0x0..0xffff)") +
                                                  " in hexadecimal",
                      "Pattern: " + s.pattern + " is not " + (limit == 0xFF ? "8 bits (0..ff)" : "16 bits (0..ffff)") +
                          " in hexadecimal");
        h.trigger_value = static_cast<uint16_t>(value);
    } else {
        h.trigger_value = 0;  // what a fresh settings dialog stores for these sources
    }
    return true;
}

std::string setting_title(const std::string& setting) {
    for (const auto& s : SETTINGS)
        if (setting == s.setting) return s.title;
    return setting;
}

std::string terminal_words(const setting_refusal& refusal) {
    return named(refusal.text, [](const std::string& setting) { return "--" + setting; });
}

std::string page_words(const setting_refusal& refusal) {
    if (!refusal.page.empty()) return refusal.page;
    return setting_title(refusal.setting) + ": " + named(refusal.text, setting_title);
}
