#include "services/stop_condition.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "services/capture_names.h"
#include "services/protocol_decode_srd.h"
#include "services/text_values.h"

std::string math_channel_refusal() {
    return "M is the math channel of the run: give its expression with the condition (capture --math A-B, "
           "or \"math\": \"A-B\" beside \"stop_when\")";
}

namespace {

// What a decoding for a condition may take: the server's bounds on a decode.
constexpr size_t STOP_DECODE_ANNOTATIONS = 200000;
constexpr size_t STOP_DECODE_BYTES = 32u << 20;
constexpr double STOP_DECODE_SECONDS = 20;

std::string figure_list(const figure_name* names, int count) {
    std::string list;
    for (int i = 0; i < count; ++i) list += (i ? ", " : "") + std::string(names[i].name);
    return list;
}

// A piece of the condition in a message (it holds no control characters: they are refused).
std::string printable_name(const std::string& text, size_t max_bytes) {
    return text.size() <= max_bytes ? text : text.substr(0, max_bytes) + "...";
}

bool is_space(char c) { return c == ' ' || c == '\t'; }

struct reader {
    const std::string& text;
    size_t at = 0;
    stop_refusal& refusal;
    const std::string& math;
    stop_condition& out;

    void skip() {
        while (at < text.size() && is_space(text[at])) ++at;
    }
    bool end() const { return at >= text.size(); }
    bool refuse(size_t where, const std::string& message) {
        refusal.at = where;
        refusal.message = message;
        return false;
    }
    // A word of characters that are not spaces.
    std::string word() {
        const size_t start = at;
        while (at < text.size() && !is_space(text[at])) ++at;
        return text.substr(start, at - start);
    }
    bool keyword(const char* name) const {
        const size_t n = std::strlen(name);
        if (text.size() - at < n) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(text[at + i])) != name[i]) return false;
        return at + n == text.size() || is_space(text[at + n]);
    }

    bool decode_term(stop_term& term) {
        term.decode = true;
        at += std::strlen("decode");
        skip();
        term.stack_at = at;
        term.stack = word();
        if (term.stack.empty() || term.stack[0] == '/')
            return refuse(term.stack_at, "a decoder stack comes after decode, as decode -P takes it: "
                                         "uart:rx=D0:baudrate=115200");
        skip();
        const size_t class_at = at;
        term.class_name = word();
        if (term.class_name.empty() || term.class_name[0] == '/')
            return refuse(class_at, "an annotation class (or row) of the decoder comes after its stack, such as rx-data");
        skip();
        if (end() || text[at] != '/') return refuse(at, "a pattern between slashes comes after the class: /ERR/");
        const size_t open = at++;
        std::string pattern;
        while (at < text.size() && text[at] != '/') {
            if (text[at] == '\\' && at + 1 < text.size() && text[at + 1] == '/') ++at;  // \/ is a slash
            pattern += text[at++];
        }
        if (end()) return refuse(open, "the pattern has no closing /");
        ++at;
        if (pattern.size() > MAX_STOP_PATTERN)
            return refuse(open, "a pattern is at most " + std::to_string(MAX_STOP_PATTERN) + " characters");
        if (pattern.empty()) return refuse(open, "the pattern is empty; // would match every annotation");
        try {
            term.matcher = std::make_shared<const std::regex>(pattern, std::regex::ECMAScript);
        } catch (const std::regex_error& e) {
            return refuse(open + 1, std::string("the pattern cannot be read: ") + e.what());
        }
        term.pattern = pattern;
        return true;
    }

    bool measure_term(stop_term& term) {
        term.channel_at = at;
        while (at < text.size() && std::isalnum(static_cast<unsigned char>(text[at]))) ++at;
        term.channel = text.substr(term.channel_at, at - term.channel_at);
        for (char& c : term.channel) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (term.channel.empty())
            return refuse(term.channel_at, "a condition is CHANNEL.FIGURE OP LIMIT (A.frequency > 1010) or decode "
                                           "STACK CLASS /PATTERN/");
        const bool is_math = term.channel == "M";
        if (is_math) {
            std::string message;
            if (math.empty()) return refuse(term.channel_at, math_channel_refusal());
            if (!parse_math(math, out.op, message)) return refuse(term.channel_at, "M: " + message);
            out.uses_math = true;
        }
        bool logic = false;
        if (!is_math && term.channel != "A" && term.channel != "B") {
            const std::string digits = term.channel.substr(1);
            const bool number = term.channel[0] == 'D' && !digits.empty() && digits.size() <= 2 &&
                                digits.find_first_not_of("0123456789") == std::string::npos &&
                                (digits.size() == 1 || digits[0] != '0') && std::atoi(digits.c_str()) <= 15;
            if (!number)
                return refuse(term.channel_at, "'" + printable_name(term.channel, 32) +
                                                   "' is not a channel; use A, B or D0..D15");
            logic = true;
        }
        if (end() || text[at] != '.')
            return refuse(at, "a channel's figure follows it after a dot: " + term.channel + ".frequency");
        ++at;
        const size_t figure_at = at;
        while (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '_')) ++at;
        term.figure = lower_case(text.substr(figure_at, at - figure_at));
        const figure_name* names = logic ? logic_figure_names : analogue_figure_names;
        const int count = logic ? LOGIC_FIGURES : is_math ? MATH_FIGURES : ANALOGUE_FIGURES;
        bool found = false;
        for (int i = 0; i < count; ++i) found = found || term.figure == names[i].name;
        if (!found)
            return refuse(figure_at, (term.figure.empty() ? std::string("a figure") : "'" + printable_name(term.figure, 32) + "'") +
                                         " is not a figure of " +
                                         (logic ? "a logic input" : is_math ? "the math channel" : "an analogue channel") +
                                         "; use " + figure_list(names, count));
        skip();
        const size_t compare_at = at;
        static const struct {
            const char* text;
            stop_compare compare;
        } compares[] = {{">=", stop_compare::greater_equal}, {"<=", stop_compare::less_equal},
                        {"==", stop_compare::equal},         {"!=", stop_compare::not_equal},
                        {">", stop_compare::greater},        {"<", stop_compare::less}};
        bool compared = false;
        for (const auto& c : compares) {
            if (text.compare(at, std::strlen(c.text), c.text) == 0) {
                term.compare = c.compare;
                at += std::strlen(c.text);
                compared = true;
                break;
            }
        }
        if (!compared) return refuse(compare_at, "a comparison comes after the figure: >, <, >=, <=, == or !=");
        skip();
        const size_t number_at = at;
        const std::string number = word();
        char* stop = nullptr;
        term.limit = number.empty() ? 0 : std::strtod(number.c_str(), &stop);
        if (number.empty() || stop == nullptr || *stop != '\0' || !std::isfinite(term.limit))
            return refuse(number_at, number.empty() ? "a limit comes after the comparison: a number"
                                                    : "'" + printable_name(number, 32) + "' is not a number");
        return true;
    }
};

bool holds(stop_compare compare, double value, double limit) {
    switch (compare) {
    case stop_compare::less: return value < limit;
    case stop_compare::less_equal: return value <= limit;
    case stop_compare::greater: return value > limit;
    case stop_compare::greater_equal: return value >= limit;
    case stop_compare::equal: return value == limit;
    case stop_compare::not_equal: return value != limit;
    }
    return false;
}

bool decode_term_met(const stop_term& term, const dso_record& record, std::string& detail) {
    decode_result result;
    std::string message;
    decode_limits limits;
    limits.max_annotations = STOP_DECODE_ANNOTATIONS;
    limits.max_bytes = STOP_DECODE_BYTES;
    limits.max_seconds = STOP_DECODE_SECONDS;
    const int32_t last = samples_in_mode(record.capture_mode) - 1;
    if (last < 1 || decode_capture(record, 0, last, {term.stack}, {}, result, message, limits) != 0) return false;
    for (const decoded_annotation& a : result.annotations) {
        if (a.class_name != term.class_name && a.row != term.class_name) continue;
        for (const std::string& text : a.texts) {
            if (std::regex_search(text, *term.matcher)) {
                detail = a.instance + " " + a.class_name + " '" + one_line_text(text) + "' at sample " +
                         std::to_string(a.start);
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool parse_stop_condition(const std::string& text, stop_condition& out, stop_refusal& refusal,
                          const std::string& math) {
    out = stop_condition{};
    out.text = text;
    reader r{text, 0, refusal, math, out};
    if (text.size() > MAX_STOP_CONDITION)
        return r.refuse(MAX_STOP_CONDITION, "a condition is at most " + std::to_string(MAX_STOP_CONDITION) + " characters");
    for (size_t i = 0; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) < 0x20 && text[i] != '\t')
            return r.refuse(i, "a condition is one line of text");
    r.skip();
    if (r.end()) return r.refuse(r.at, "the condition is empty: give A.frequency > 1010, or decode STACK CLASS /PATTERN/");
    for (;;) {
        stop_term term;
        term.at = r.at;
        if (!(r.keyword("decode") ? r.decode_term(term) : r.measure_term(term))) return false;
        term.text = text.substr(term.at, r.at - term.at);
        out.terms.push_back(std::move(term));
        r.skip();
        if (r.end()) return true;
        if (!r.keyword("or")) return r.refuse(r.at, "'or' or the end of the condition comes after a condition");
        r.at += 2;
        r.skip();
        if (r.end()) return r.refuse(r.at, "a condition comes after 'or'");
    }
}

bool check_stop_condition(const stop_condition& condition, int8_t mode, stop_refusal& refusal) {
    auto blank = std::make_unique<dso_record>();
    std::memset(blank.get(), 0, sizeof(dso_record));
    blank->capture_mode = mode;
    blank->sample_rate_index = 0;
    const char* title = capture_mode_title(mode);
    for (const stop_term& term : condition.terms) {
        if (!term.decode) {
            bool has_channel = false;
            std::string message;
            if (term.channel == "M" && !math_available_in(mode, condition.op, message)) {
                refusal.at = term.channel_at;
                refusal.message = "M: " + message;
                return false;
            }
            if (term.channel != "M" && figure_index(mode, term.channel.c_str(), term.figure.c_str(), has_channel) < 0) {
                refusal.at = term.channel_at;
                refusal.message = "a " + std::string(title != nullptr ? title : "capture") + " capture has no channel " +
                                  term.channel;
                return false;
            }
            continue;
        }
        decode_result result;
        std::string message;
        const int refused = decode_capture(*blank, 0, 999, {term.stack}, {}, result, message);
        if (refused != 0) {
            refusal.at = term.stack_at;
            refusal.message = message;
            return false;
        }
    }
    return true;
}

int stop_condition_met(const stop_condition& condition, const dso_record& record, const capture_figures* figures,
                       std::string& detail) {
    std::unique_ptr<capture_figures> measured;
    for (size_t t = 0; t < condition.terms.size(); ++t) {
        const stop_term& term = condition.terms[t];
        if (term.decode) {
            if (decode_term_met(term, record, detail)) return static_cast<int>(t);
            continue;
        }
        if (figures == nullptr || (condition.uses_math && find_figure(*figures, "M", "min") == nullptr)) {
            measured = std::make_unique<capture_figures>();
            if (figures != nullptr) *measured = *figures;
            else measure_figures(record, *measured);
            std::string message;
            if (condition.uses_math && math_available(record, condition.op, message))
                measure_math_figures(record, condition.op, *measured);
            figures = measured.get();
        }
        const figure_value* found = nullptr;
        if (term.channel == "M") {
            found = find_figure(*figures, "M", term.figure.c_str());
        } else {
            bool has_channel = false;
            const int index = figure_index(record.capture_mode, term.channel.c_str(), term.figure.c_str(), has_channel);
            if (index >= 0 && index < figures->count) found = &figures->figures[index];
        }
        if (found == nullptr) continue;
        const figure_value& f = *found;
        if (!f.known || !holds(term.compare, f.value, term.limit)) continue;
        char text[128];
        std::snprintf(text, sizeof text, "%s.%s = %.6g%s%s", f.channel, f.figure->name, f.value,
                      f.figure->unit[0] ? " " : "", f.figure->unit);
        detail = text;
        return static_cast<int>(t);
    }
    return -1;
}

std::string stop_refusal_text(const std::string& text, const stop_refusal& refusal) {
    // The caret stands under the character: columns count characters, not bytes of UTF-8.
    size_t column = 0;
    for (size_t i = 0; i < refusal.at && i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
    return refusal.message + " (at column " + std::to_string(column + 1) + ")\n  " + printable_name(text, MAX_STOP_CONDITION + 8) +
           "\n  " + std::string(column, ' ') + "^";
}
