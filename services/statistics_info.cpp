#include "services/statistics_info.h"

#include <cstdio>

#include "services/capture_names.h"

using json = nlohmann::ordered_json;

json statistics_json(const run_statistics& s) {
    json figures = json::array();
    for (int i = 0; i < s.count; ++i) {
        const figure_value& n = s.names[i];
        const running_figure& f = s.figures[i];
        const bool had = f.count > 0;
        figures.push_back({{"name", std::string(n.channel) + "." + n.figure->name},
                           {"channel", n.channel},
                           {"figure", n.figure->name},
                           {"unit", n.figure->unit},
                           {"count", f.count},
                           {"mean", had ? json(f.mean) : json(nullptr)},
                           {"min", had ? json(f.min) : json(nullptr)},
                           {"max", had ? json(f.max) : json(nullptr)},
                           {"std_dev", f.count > 1 ? json(f.std_dev()) : json(nullptr)}});
    }
    const char* mode = s.count > 0 ? mode_option_name(s.capture_mode) : nullptr;
    return {{"captures", s.captures}, {"mode", mode != nullptr ? json(mode) : json(nullptr)}, {"figures", figures}};
}

std::string statistics_text(const run_statistics& s) {
    char line[256];
    std::snprintf(line, sizeof line, "Statistics over %lld capture%s\n", static_cast<long long>(s.captures),
                  s.captures == 1 ? "" : "s");
    std::string text = line;
    std::snprintf(line, sizeof line, "  %-20s %-8s %6s %14s %14s %14s %14s\n", "figure", "unit", "count", "mean", "min",
                  "max", "std dev");
    text += line;
    for (int i = 0; i < s.count; ++i) {
        const figure_value& n = s.names[i];
        const running_figure& f = s.figures[i];
        const std::string name = std::string(n.channel) + "." + n.figure->name;
        if (f.count == 0) {
            std::snprintf(line, sizeof line, "  %-20s %-8s %6d %14s\n", name.c_str(), n.figure->unit, 0,
                          "\u2014 (never had)");
        } else {
            char deviation[32] = "\u2014";
            if (f.count > 1) std::snprintf(deviation, sizeof deviation, "%.6g", f.std_dev());
            std::snprintf(line, sizeof line, "  %-20s %-8s %6lld %14.6g %14.6g %14.6g %14s\n", name.c_str(),
                          n.figure->unit, static_cast<long long>(f.count), f.mean, f.min, f.max, deviation);
        }
        text += line;
    }
    return text;
}
