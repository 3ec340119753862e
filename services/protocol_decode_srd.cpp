#include "services/protocol_decode_srd.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include <dirent.h>
#include <sys/stat.h>

using json = nlohmann::ordered_json;

namespace {

std::mutex library_mutex;  // the library and its Python are entered by one decoding at a time
bool started = false;
bool verbose = false;
// What the library said at warning level and above, and at error level alone, for messages;
// the decoders' own threads say it too.
std::mutex log_mutex;
std::string logged;
std::string logged_errors;  // the decoders' exceptions

int keep_log(void*, int level, const char* format, va_list args) {
    if (level > SRD_LOG_WARN) return SRD_OK;
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return SRD_OK;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    std::lock_guard<std::mutex> lock(log_mutex);
    if (verbose) std::fprintf(stderr, "%s\n", text.c_str());
    // A decoder's exception ("ValueError: Protocol decoder instance spi-1: ..."), which ends the
    // decoding; the library's other errors (an annotation of a class the decoder does not
    // declare) go by, as sigrok-cli lets them.
    size_t type_end = 0;
    while (type_end < text.size() && (std::isalnum(static_cast<unsigned char>(text[type_end])) || text[type_end] == '_' ||
                                      text[type_end] == '.'))
        ++type_end;
    const bool exception = level <= SRD_LOG_ERR && type_end > 0 && text.compare(type_end, 2, ": ") == 0;
    for (std::string* kept : {&logged, exception ? &logged_errors : nullptr}) {
        if (kept == nullptr) continue;
        if (!kept->empty()) *kept += "\n";
        *kept += text;
    }
    return SRD_OK;
}

void clear_log() {
    std::lock_guard<std::mutex> lock(log_mutex);
    logged.clear();
    logged_errors.clear();
}

std::string log_text(bool errors_only) {
    std::lock_guard<std::mutex> lock(log_mutex);
    return errors_only ? logged_errors : logged;
}

// What a decoder objected to, on one line: "spi-2: ValueError: ..." of the library's report
// ("ValueError: Protocol decoder instance spi-2: ..." with the traceback after it); the
// traceback itself only on standard error, with --verbose.
std::string objection(const std::string& report, const std::map<std::string, std::string>& names = {}) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t next; (next = report.find('\n', at)) != std::string::npos; at = next + 1) lines.push_back(report.substr(at, next - at));
    lines.push_back(report.substr(at));
    // The line that names the instance ("... instance spi-1: ...", "Calling spi-1 decode()
    // failed: ..."), and the traceback's last line: the exception.
    std::string header = lines[0], instance, exception;
    size_t name_end = std::string::npos;
    for (const std::string& line : lines) {
        for (const auto& known : names) {
            const size_t at = line.find(known.first);
            const size_t after = at + known.first.size();
            if (at != std::string::npos && (after == line.size() || line[after] == ':' || line[after] == ' ')) {
                header = line, instance = known.second, name_end = after;
                break;
            }
        }
        const size_t named = line.find("instance ");
        if (instance.empty() && named != std::string::npos) {
            name_end = std::min(line.find_first_of(": ", named + 9), line.size());
            header = line, instance = line.substr(named + 9, name_end - named - 9);
        }
        if (!instance.empty()) break;
    }
    bool traceback = false;
    for (const std::string& line : lines) {
        if (line.rfind("Traceback", 0) == 0) traceback = true;
        else if (traceback && !line.empty() && line[0] != ' ') exception = line;
    }
    if (instance.empty()) return one_line_text(exception.empty() ? header : exception);
    if (exception.empty()) {
        // No traceback: the exception's type leads the line, its text follows the name.
        const size_t text = header.find(": ", name_end);
        const size_t kind = header.find(": ");
        exception = (kind < name_end ? header.substr(0, kind) + ": " : std::string()) +
                    (text == std::string::npos ? "the decoder failed" : header.substr(header.find_first_not_of(": ", text)));
    }
    return one_line_text(instance + ": " + exception);
}

bool start_library(std::string& message) {
    if (started) return true;
    srd_log_callback_set(keep_log, nullptr);
    srd_log_loglevel_set(SRD_LOG_WARN);
    const int status = srd_init(nullptr);
    if (status != SRD_OK) {
        message = std::string("the decoder library cannot start: ") + srd_strerror(status);
        return false;
    }
    started = true;
    return true;
}

std::vector<std::string> split(const std::string& text, char by) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t next; (next = text.find(by, at)) != std::string::npos; at = next + 1) parts.push_back(text.substr(at, next - at));
    parts.push_back(text.substr(at));
    return parts;
}

// The library's own decoders: the folders of its search paths that hold one (a pd.py), by
// the names the library loads them by. A name is looked up here before it reaches the
// library, which would import any Python module of that name.
const std::set<std::string>& library_decoders() {
    static const std::set<std::string> names = [] {
        std::set<std::string> found;
        for (const GSList* l = srd_searchpaths_get(); l != nullptr; l = l->next) {
            const std::string folder = static_cast<const char*>(l->data);
            DIR* d = opendir(folder.c_str());
            if (d == nullptr) continue;
            while (const dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (name.empty() || name[0] == '.' || name[0] == '_' ||
                    !std::all_of(name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }))
                    continue;
                struct stat file;
                if (stat((folder + "/" + name + "/pd.py").c_str(), &file) == 0 && S_ISREG(file.st_mode)) found.insert(name);
            }
            closedir(d);
        }
        return found;
    }();
    return names;
}

srd_decoder* load_decoder(const std::string& id, std::string& message) {
    if (library_decoders().count(id) == 0) {
        message = "no decoder named '" + id + "'; korvane-cli decode --list lists them";
        return nullptr;
    }
    if (srd_decoder* d = srd_decoder_get_by_id(id.c_str())) return d;
    clear_log();
    if (srd_decoder_load(id.c_str()) != SRD_OK) {
        message = id + ": the decoder cannot be loaded: " + objection(log_text(false));
        return nullptr;
    }
    return srd_decoder_get_by_id(id.c_str());
}

bool same_letters(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string joined(const GSList* list) {
    std::string text;
    for (const GSList* l = list; l != nullptr; l = l->next) text += (text.empty() ? "" : ", ") + std::string(static_cast<const char*>(l->data));
    return text.empty() ? "nothing" : text;
}

bool takes(const GSList* inputs, const char* what) {
    for (const GSList* l = inputs; l != nullptr; l = l->next)
        if (std::strcmp(static_cast<const char*>(l->data), what) == 0) return true;
    return false;
}

const srd_decoder_option* find_option(const srd_decoder* d, const std::string& key) {
    for (const GSList* l = d->options; l != nullptr; l = l->next) {
        const auto* o = static_cast<const srd_decoder_option*>(l->data);
        if (key == o->id) return o;
    }
    return nullptr;
}

const srd_channel* find_channel(const srd_decoder* d, const std::string& key) {
    for (const GSList* list : {d->channels, d->opt_channels})
        for (const GSList* l = list; l != nullptr; l = l->next) {
            const auto* c = static_cast<const srd_channel*>(l->data);
            if (key == c->id) return c;
        }
    return nullptr;
}

std::string variant_text(GVariant* v) {
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING)) return g_variant_get_string(v, nullptr);
    gchar* printed = g_variant_print(v, FALSE);
    std::string text = printed;
    g_free(printed);
    return text;
}

// The option's value from text, of the type of its default; nullptr with the message.
GVariant* option_value(const std::string& decoder, const srd_decoder_option* o, const std::string& text,
                       std::string& message) {
    GVariant* value = nullptr;
    const std::string name = decoder + ":" + o->id;
    const bool number = !g_variant_is_of_type(o->def, G_VARIANT_TYPE_STRING);
    if (g_variant_is_of_type(o->def, G_VARIANT_TYPE_INT64)) {
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno != 0) {
            message = name + ": '" + text + "' is not a whole number";
            return nullptr;
        }
        value = g_variant_new_int64(v);
    } else if (g_variant_is_of_type(o->def, G_VARIANT_TYPE_DOUBLE)) {
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(v)) {
            message = name + ": '" + text + "' is not a number";
            return nullptr;
        }
        value = g_variant_new_double(v);
    } else {
        // A text from the decoder's list, in any case, goes in as the decoder spells it.
        std::string spelled = text;
        for (const GSList* l = o->values; l != nullptr; l = l->next) {
            GVariant* allowed = static_cast<GVariant*>(l->data);
            if (g_variant_is_of_type(allowed, G_VARIANT_TYPE_STRING) && same_letters(g_variant_get_string(allowed, nullptr), text))
                spelled = g_variant_get_string(allowed, nullptr);
        }
        value = g_variant_new_string(spelled.c_str());
    }
    g_variant_ref_sink(value);
    // A number's list names the usual values, and the decoder takes any number of its type
    // (two stop bits); a text must be one of the list.
    if (o->values != nullptr && !number) {
        bool listed = false;
        std::string values;
        for (const GSList* l = o->values; l != nullptr; l = l->next) {
            GVariant* allowed = static_cast<GVariant*>(l->data);
            listed = listed || g_variant_equal(allowed, value);
            values += (values.empty() ? "" : ", ") + variant_text(allowed);
        }
        if (!listed) {
            message = name + ": '" + text + "' is not one of " + values;
            g_variant_unref(value);
            return nullptr;
        }
    }
    return value;
}

// The channel a text names among the mode's inputs: D3, d3 or 3.
int channel_index(const std::string& text, int inputs) {
    std::string number = text;
    if (!number.empty() && (number[0] == 'D' || number[0] == 'd')) number = number.substr(1);
    if (number.empty() || number.size() > 2 || number.find_first_not_of("0123456789") != std::string::npos) return -1;
    const int index = std::atoi(number.c_str());
    return index < inputs ? index : -1;
}

struct instance_info {
    std::string decoder;
    std::string instance;
    const srd_decoder* dec;
};

// What the decoders give while they run, from their own threads, within the limits.
struct collected {
    std::mutex mutex;
    std::vector<decoded_annotation>* out;
    std::vector<decoded_bytes>* bytes;
    uint64_t offset = 0;  // the capture's number of the session's first sample
    // The classes each instance shows; an instance missing here shows all (no filter).
    std::map<std::string, std::vector<bool>> shown;
    bool filtered;
    std::map<const srd_decoder_inst*, const instance_info*> instances;
    decode_limits limits;
    size_t kept_bytes = sizeof(decode_result);  // as decode_result_bytes counts them
    std::string cut;  // why the limits stopped it; empty while they have not

    // Takes size more bytes (and one annotation more); false once a limit is passed.
    bool room_for(size_t size, bool annotation) {
        if (!cut.empty()) return false;
        if (limits.max_bytes > 0 && kept_bytes + size > limits.max_bytes) {
            cut = "stopped at " + (limits.max_bytes >= (1 << 20) ? std::to_string(limits.max_bytes >> 20) + " MB"
                                                                 : std::to_string(limits.max_bytes >> 10) + " KB") +
                  " of annotations and bytes";
            return false;
        }
        if (annotation && limits.max_annotations > 0 && out->size() >= limits.max_annotations) {
            cut = "stopped after " + std::to_string(limits.max_annotations) + " annotations";
            return false;
        }
        kept_bytes += size;
        return true;
    }
};

size_t annotation_bytes(const decoded_annotation& a) {
    size_t size = sizeof a + a.decoder.size() + a.instance.size() + a.class_name.size() + a.row.size() +
                  a.row_description.size();
    for (const std::string& t : a.texts) size += sizeof t + t.size();
    return size;
}

void take_annotation(srd_proto_data* data, void* closure) {
    auto& c = *static_cast<collected*>(closure);
    const srd_decoder_inst* di = data->pdo->di;
    const auto* a = static_cast<const srd_proto_data_annotation*>(data->data);
    const auto known = c.instances.find(di);
    if (known == c.instances.end()) return;
    const instance_info& info = *known->second;
    if (c.filtered) {
        const auto shown = c.shown.find(info.instance);
        if (shown == c.shown.end()) return;
        if (!shown->second.empty() &&
            (a->ann_class < 0 || static_cast<size_t>(a->ann_class) >= shown->second.size() || !shown->second[a->ann_class]))
            return;
    }
    decoded_annotation out;
    out.start = data->start_sample + c.offset;
    out.end = data->end_sample + c.offset;
    out.decoder = info.decoder;
    out.instance = info.instance;
    const GSList* cls = g_slist_nth(info.dec->annotations, static_cast<guint>(a->ann_class));
    if (cls != nullptr) out.class_name = static_cast<char**>(cls->data)[0];
    int row_number = 0;
    for (const GSList* r = info.dec->annotation_rows; r != nullptr && out.row.empty(); r = r->next, ++row_number) {
        const auto* row = static_cast<const srd_decoder_annotation_row*>(r->data);
        for (const GSList* k = row->ann_classes; k != nullptr; k = k->next)
            if (GPOINTER_TO_INT(k->data) == a->ann_class) {
                out.row = row->id;
                out.row_description = row->desc;
            }
    }
    out.row_order = out.row.empty() ? row_number + a->ann_class : row_number - 1;
    for (char** t = a->ann_text; t != nullptr && *t != nullptr; ++t) out.texts.emplace_back(*t);
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!c.room_for(annotation_bytes(out), true)) return;
    c.out->push_back(std::move(out));
}

void take_binary(srd_proto_data* data, void* closure) {
    auto& c = *static_cast<collected*>(closure);
    const auto known = c.instances.find(data->pdo->di);
    if (known == c.instances.end()) return;
    const instance_info& info = *known->second;
    if (c.filtered && c.shown.find(info.instance) == c.shown.end()) return;
    const auto* b = static_cast<const srd_proto_data_binary*>(data->data);
    const GSList* cls = g_slist_nth(info.dec->binary, static_cast<guint>(b->bin_class));
    if (cls == nullptr || b->size == 0) return;
    const char* const* names = static_cast<char**>(cls->data);
    std::lock_guard<std::mutex> lock(c.mutex);
    auto found = std::find_if(c.bytes->begin(), c.bytes->end(), [&](const decoded_bytes& x) {
        return x.instance == info.instance && x.class_name == names[0];
    });
    const size_t entry = found == c.bytes->end()
                             ? sizeof(decoded_bytes) + info.instance.size() + std::strlen(names[0]) + std::strlen(names[1])
                             : 0;
    if (!c.room_for(static_cast<size_t>(b->size) + entry, false)) return;
    if (found == c.bytes->end()) {
        c.bytes->push_back({info.instance, names[0], names[1], ""});
        found = c.bytes->end() - 1;
    }
    found->data.append(reinterpret_cast<const char*>(b->data), static_cast<size_t>(b->size));
}

bool select_classes(const srd_decoder* d, const std::string& names, std::vector<bool>& shown, std::string& message) {
    shown.assign(g_slist_length(d->annotations), false);
    for (const std::string& name : split(names, ':')) {
        int index = 0;
        bool found = false;
        for (const GSList* l = d->annotations; l != nullptr; l = l->next, ++index)
            if (name == static_cast<char**>(l->data)[0]) shown[static_cast<size_t>(index)] = found = true;
        if (!found)
            for (const GSList* r = d->annotation_rows; r != nullptr; r = r->next) {
                const auto* row = static_cast<const srd_decoder_annotation_row*>(r->data);
                if (name != row->id) continue;
                for (const GSList* k = row->ann_classes; k != nullptr; k = k->next)
                    shown[static_cast<size_t>(GPOINTER_TO_INT(k->data))] = found = true;
            }
        if (!found) {
            message = "-A " + std::string(d->id) + "=" + names + ": '" + name + "' is neither an annotation class nor a row of " +
                      d->id + "; korvane-cli decode --show " + d->id + " lists them";
            return false;
        }
    }
    return true;
}

}  // namespace

int decode_capture(const dso_record& r, int32_t first, int32_t last, const std::vector<std::string>& stacks,
                   const std::vector<std::string>& filter_options, decode_result& result, std::string& message,
                   const decode_limits& limits) {
    const int inputs = r.capture_mode == MODE_LOGIC16 ? 16 : r.capture_mode == MODE_MIXED ? 8 : 0;
    if (inputs == 0) {
        const char* title = capture_mode_title(r.capture_mode);
        message = std::string("a ") + (title ? title : "capture of an unknown mode") +
                  " capture has no logic inputs to decode (16 Bit Logic and Mixed Mode have them)";
        return 1;
    }
    // sigrok-cli's -A takes several, comma-separated: uart=rx-data,spi.
    std::vector<std::string> filters;
    for (const std::string& option : filter_options)
        for (const std::string& filter : split(option, ','))
            if (!filter.empty()) filters.push_back(filter);
    if (stacks.size() > MAX_DECODE_STACKS || filters.size() > MAX_DECODE_FILTERS) {
        message = "at most " + std::to_string(MAX_DECODE_STACKS) + " stacks (-P) and " + std::to_string(MAX_DECODE_FILTERS) +
                  " selections of annotations (-A) in one decoding; these are " + std::to_string(stacks.size()) +
                  " and " + std::to_string(filters.size());
        return 2;
    }
    const int unit = inputs / 8;
    const uint8_t* samples = r.capture_mode == MODE_LOGIC16 ? r.sample_area : r.channel_a;
    result = decode_result();
    result.rate_hz = sample_rate_hz(r.capture_mode, r.sample_rate_index);
    if (result.rate_hz <= 0) {
        message = "the capture names no sample rate; the decoders need one";
        return 1;
    }

    std::lock_guard<std::mutex> lock(library_mutex);
    if (!start_library(message)) return 1;
    srd_session* session = nullptr;
    srd_session_new(&session);
    std::vector<std::unique_ptr<instance_info>> infos;
    collected sink;
    sink.out = &result.annotations;
    sink.bytes = &result.bytes;
    sink.filtered = !filters.empty();
    sink.limits = limits;
    // The session counts its samples from 0; a range's annotations get the capture's numbers.
    sink.offset = static_cast<uint64_t>(first);
    int status = 0;
    const auto fail = [&](int code, const std::string& text) {
        status = code;
        message = text;
    };
    std::map<std::string, int> seen;  // instances of each decoder
    const auto reported = [&](const std::string& what) {
        const std::string report = log_text(false);
        return report.empty() ? what : what + ": " + objection(report);
    };

    for (const std::string& stack : stacks) {
        srd_decoder_inst* below = nullptr;
        bool bottom = true;
        for (const std::string& element : split(stack, ',')) {
            std::vector<std::string> parts = split(element, ':');
            const std::string id = parts[0];
            srd_decoder* d = load_decoder(id, message);
            if (d == nullptr) {
                status = 2;
                break;
            }
            if (bottom && !takes(d->inputs, "logic")) {
                fail(2, id + " decodes what " + joined(d->inputs) + " gives, not the logic inputs: stack it on that decoder (-P " +
                            std::string(d->inputs != nullptr ? static_cast<const char*>(d->inputs->data) : "...") +
                            ":...," + id + ")");
                break;
            }
            if (!bottom) {
                bool matches = false;
                for (const GSList* o = below->decoder->outputs; o != nullptr && !matches; o = o->next)
                    matches = takes(d->inputs, static_cast<const char*>(o->data));
                if (!matches) {
                    fail(1, "No matching in-/output when stacking " + id + " onto " + below->decoder->id + ": " +
                                below->decoder->id + " gives " + joined(below->decoder->outputs) + ", " + id + " takes " +
                                joined(d->inputs));
                    break;
                }
            }
            GHashTable* options = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, (GDestroyNotify)g_variant_unref);
            GHashTable* channels = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, (GDestroyNotify)g_variant_unref);
            for (size_t i = 1; i < parts.size() && status == 0; ++i) {
                const size_t equals = parts[i].find('=');
                if (equals == std::string::npos || equals == 0) {
                    fail(2, id + ": '" + parts[i] + "' is not KEY=VALUE");
                    break;
                }
                const std::string key = parts[i].substr(0, equals), text = parts[i].substr(equals + 1);
                if (const srd_decoder_option* o = find_option(d, key)) {
                    GVariant* value = option_value(id, o, text, message);
                    if (value == nullptr) status = 2;
                    else g_hash_table_insert(options, g_strdup(key.c_str()), value);
                } else if (const srd_channel* c = find_channel(d, key)) {
                    const int index = channel_index(text, inputs);
                    if (!bottom)
                        fail(2, id + ":" + key + ": a decoder stacked on another takes no channels");
                    else if (index < 0)
                        fail(2, id + ":" + key + "=" + text + ": this capture's mode (" + capture_mode_title(r.capture_mode) +
                                    ") has the logic inputs D0..D" + std::to_string(inputs - 1));
                    else
                        g_hash_table_insert(channels, g_strdup(c->id), g_variant_ref_sink(g_variant_new_int32(index)));
                } else {
                    fail(2, id + ": '" + key + "' is neither an option nor a channel of " + id +
                                "; korvane-cli decode --show " + id + " lists them");
                }
            }
            for (const GSList* l = d->channels; l != nullptr && bottom && status == 0; l = l->next) {
                const auto* c = static_cast<const srd_channel*>(l->data);
                if (!g_hash_table_contains(channels, c->id))
                    fail(2, id + ": the channel " + c->id + " (" + c->name + ") is required: give it as " + id + ":" + c->id +
                                "=D0 (or the input it is on)");
            }
            if (status == 0) {
                // The library names every instance after its decoder; a second one of a kind
                // gets a number.
                const int n = ++seen[id];
                const std::string name = n == 1 ? id : id + "-" + std::to_string(n);
                if (n > 1) g_hash_table_insert(options, g_strdup("id"), g_variant_ref_sink(g_variant_new_string(name.c_str())));
                clear_log();
                srd_decoder_inst* di = srd_inst_new(session, id.c_str(), options);
                if (di == nullptr) fail(2, reported(id + ": the decoder refused its options"));
                else if (bottom && srd_inst_channel_set_all(di, channels) != SRD_OK)
                    fail(2, reported(id + ": the decoder refused its channels"));
                else if (below != nullptr && srd_inst_stack(session, below, di) != SRD_OK)
                    fail(1, reported(id + " cannot be stacked on " + below->decoder->id));
                if (status == 0) {
                    infos.push_back(std::make_unique<instance_info>(instance_info{id, name, d}));
                    sink.instances[di] = infos.back().get();
                    result.instances.push_back(name);
                    below = di;
                }
            }
            g_hash_table_destroy(options);
            g_hash_table_destroy(channels);
            bottom = false;
            if (status != 0) break;
        }
        if (status != 0) break;
    }

    // The filters name decoders of the stacks, and their classes or rows.
    for (size_t i = 0; i < filters.size() && status == 0; ++i) {
        const size_t equals = filters[i].find('=');
        const std::string name = filters[i].substr(0, equals);
        const instance_info* info = nullptr;
        for (const auto& candidate : infos)
            if (candidate->instance == name) info = candidate.get();
        if (info == nullptr) {
            fail(2, "-A " + filters[i] + ": '" + name + "' is not one of the decoders given with -P");
            break;
        }
        std::vector<bool> shown;
        if (equals != std::string::npos && !select_classes(info->dec, filters[i].substr(equals + 1), shown, message)) {
            status = 2;
            break;
        }
        // A decoder named alone shows every class (an empty list); classes add up.
        const auto known = sink.shown.find(name);
        if (equals == std::string::npos) sink.shown[name].clear();
        else if (known == sink.shown.end()) sink.shown[name] = shown;
        else if (!known->second.empty())
            for (size_t k = 0; k < shown.size(); ++k) known->second[k] = known->second[k] || shown[k];
    }

    bool decoder_failed = false;
    if (status == 0) {
        srd_pd_output_callback_add(session, SRD_OUTPUT_ANN, take_annotation, &sink);
        srd_pd_output_callback_add(session, SRD_OUTPUT_BINARY, take_binary, &sink);
        GVariant* rate = g_variant_new_uint64(static_cast<uint64_t>(std::llround(result.rate_hz)));
        srd_session_metadata_set(session, SRD_CONF_SAMPLERATE, rate);
        clear_log();
        if (srd_session_start(session) != SRD_OK) {
            decoder_failed = true;
            fail(1, "the decoders could not start");
        } else {
            // In blocks small enough for the limits to stop the feeding soon, the end excluded.
            using clock = std::chrono::steady_clock;
            const auto started_at = clock::now();
            const uint64_t block = 1 << 16;
            const uint64_t count = static_cast<uint64_t>(last) - static_cast<uint64_t>(first) + 1;
            const uint8_t* from = samples + static_cast<uint64_t>(first) * static_cast<uint64_t>(unit);
            for (uint64_t at = 0; at < count && status == 0;) {
                const uint64_t end = std::min<uint64_t>(at + block, count);
                const int sent = srd_session_send(session, at, end, from + at * static_cast<uint64_t>(unit),
                                                  (end - at) * static_cast<uint64_t>(unit), static_cast<uint64_t>(unit));
                // A decoder's exception ends the decoding, a stacked one's too (the library
                // reports it and goes on).
                if (sent != SRD_OK || !log_text(true).empty()) {
                    decoder_failed = true;
                    fail(1, std::string("a decoder failed: ") + srd_strerror(sent));
                }
                at = end;
                std::lock_guard<std::mutex> cut(sink.mutex);
                if (!sink.cut.empty()) break;
                if (limits.max_seconds > 0 && at < count &&
                    std::chrono::duration<double>(clock::now() - started_at).count() > limits.max_seconds) {
                    sink.cut = "stopped after " + std::to_string(static_cast<int>(limits.max_seconds)) + " s, at sample " +
                               std::to_string(at + sink.offset);
                    break;
                }
            }
        }
    }
    std::map<std::string, std::string> names;  // the library's names of the instances, and ours
    for (const auto& known : sink.instances) names[known.first->inst_id] = known.second->instance;
    srd_session_destroy(session);
    // The decoders' threads have ended: all they said is in the log.
    if (decoder_failed) {
        const std::string report = log_text(false);
        if (!report.empty()) message = objection(report, names);
    }
    result.cut_short = !sink.cut.empty();
    result.cut_short_reason = sink.cut;
    if (status != 0) result.annotations.clear();
    return status;
}

std::string decoder_list_text() {
    std::string text;
    std::string ignored;
    std::lock_guard<std::mutex> lock(library_mutex);
    if (!start_library(ignored)) return ignored + "\n";
    srd_decoder_load_all();
    std::vector<const srd_decoder*> all;
    for (const GSList* l = srd_decoder_list(); l != nullptr; l = l->next) all.push_back(static_cast<const srd_decoder*>(l->data));
    std::sort(all.begin(), all.end(), [](const srd_decoder* a, const srd_decoder* b) { return std::strcmp(a->id, b->id) < 0; });
    for (const srd_decoder* d : all) {
        char line[512];
        std::snprintf(line, sizeof line, "%-20s %s\n", d->id, d->longname);
        text += line;
    }
    return text;
}

json decoder_list_json() {
    json list = json::array();
    std::string ignored;
    std::lock_guard<std::mutex> lock(library_mutex);
    if (!start_library(ignored)) return list;
    srd_decoder_load_all();
    for (const GSList* l = srd_decoder_list(); l != nullptr; l = l->next) {
        const auto* d = static_cast<const srd_decoder*>(l->data);
        json inputs = json::array();
        for (const GSList* i = d->inputs; i != nullptr; i = i->next) inputs.push_back(static_cast<const char*>(i->data));
        list.push_back({{"id", d->id}, {"name", d->name}, {"longname", d->longname}, {"description", d->desc},
                        {"inputs", inputs}});
    }
    std::sort(list.begin(), list.end(), [](const json& a, const json& b) { return a["id"] < b["id"]; });
    return list;
}

bool decoder_description(const std::string& id, std::string& text, json& description, std::string& message) {
    std::lock_guard<std::mutex> lock(library_mutex);
    if (!start_library(message)) return false;
    srd_decoder* d = load_decoder(id, message);
    if (d == nullptr) return false;
    text = std::string(d->id) + ": " + d->longname + "\n" + d->desc + "\n";
    json options = json::array(), channels = json::array(), classes = json::array(), rows = json::array();
    const auto add_channels = [&](const GSList* list, bool required) {
        for (const GSList* l = list; l != nullptr; l = l->next) {
            const auto* c = static_cast<const srd_channel*>(l->data);
            channels.push_back({{"id", c->id}, {"name", c->name}, {"description", c->desc}, {"required", required}});
        }
    };
    add_channels(d->channels, true);
    add_channels(d->opt_channels, false);
    if (!channels.empty()) {
        text += "\nChannels (ID=D0..D15):\n";
        for (const json& c : channels)
            text += "  " + c["id"].get<std::string>() + "  " + c["name"].get<std::string>() + ": " +
                    c["description"].get<std::string>() + (c["required"].get<bool>() ? " (required)" : "") + "\n";
    }
    for (const GSList* l = d->options; l != nullptr; l = l->next) {
        const auto* o = static_cast<const srd_decoder_option*>(l->data);
        json values = json::array();
        std::string listed;
        for (const GSList* v = o->values; v != nullptr; v = v->next) {
            values.push_back(variant_text(static_cast<GVariant*>(v->data)));
            listed += (listed.empty() ? "" : ", ") + variant_text(static_cast<GVariant*>(v->data));
        }
        const char* type = g_variant_is_of_type(o->def, G_VARIANT_TYPE_INT64)    ? "whole number"
                           : g_variant_is_of_type(o->def, G_VARIANT_TYPE_DOUBLE) ? "number"
                                                                                 : "text";
        options.push_back({{"id", o->id}, {"description", o->desc}, {"default", variant_text(o->def)}, {"type", type},
                           {"values", values}});
        if (l == d->options) text += "\nOptions (ID=VALUE):\n";
        text += std::string("  ") + o->id + "  " + o->desc + " (" + type + ", default " + variant_text(o->def) +
                (listed.empty() ? "" : "; one of " + listed) + ")\n";
    }
    int index = 0;
    for (const GSList* l = d->annotations; l != nullptr; l = l->next, ++index) {
        char** a = static_cast<char**>(l->data);
        classes.push_back({{"id", a[0]}, {"description", a[1]}, {"index", index}});
        if (index == 0) text += "\nAnnotation classes (-A " + id + "=CLASS):\n";
        text += std::string("  ") + a[0] + "  " + a[1] + "\n";
    }
    for (const GSList* l = d->annotation_rows; l != nullptr; l = l->next) {
        const auto* row = static_cast<const srd_decoder_annotation_row*>(l->data);
        json members = json::array();
        std::string names;
        for (const GSList* k = row->ann_classes; k != nullptr; k = k->next) {
            members.push_back(classes[static_cast<size_t>(GPOINTER_TO_INT(k->data))]["id"]);
            names += (names.empty() ? "" : ", ") + members.back().get<std::string>();
        }
        rows.push_back({{"id", row->id}, {"description", row->desc}, {"classes", members}});
        if (l == d->annotation_rows) text += "\nAnnotation rows (-A " + id + "=ROW):\n";
        text += std::string("  ") + row->id + "  " + row->desc + ": " + names + "\n";
    }
    json inputs = json::array();
    for (const GSList* i = d->inputs; i != nullptr; i = i->next) inputs.push_back(static_cast<const char*>(i->data));
    description = {{"id", d->id},          {"name", d->name},   {"longname", d->longname}, {"description", d->desc},
                   {"inputs", inputs},     {"channels", channels}, {"options", options},  {"classes", classes},
                   {"rows", rows}};
    if (!inputs.empty() && inputs[0] != "logic")
        text += "\nIt decodes what " + inputs[0].get<std::string>() + " gives: stack it on that decoder (-P " +
                inputs[0].get<std::string>() + ",...," + id + ")\n";
    return true;
}

json decode_json(const decode_result& result) {
    json list = json::array();
    for (const decoded_annotation& a : result.annotations) {
        list.push_back({{"start", a.start},
                        {"end", a.end},
                        {"start_s", a.start / result.rate_hz},
                        {"end_s", a.end / result.rate_hz},
                        {"decoder", a.instance},
                        {"class", a.class_name},
                        {"row", a.row.empty() ? json(nullptr) : json(a.row)},
                        {"texts", a.texts}});
    }
    json bytes = json::array();
    for (const decoded_bytes& b : result.bytes) {
        std::string hex;
        char pair[3];
        for (unsigned char ch : b.data) {
            std::snprintf(pair, sizeof pair, "%02x", ch);
            hex += pair;
        }
        bytes.push_back({{"decoder", b.instance}, {"class", b.class_name}, {"description", b.description},
                         {"count", b.data.size()}, {"text", quoted_bytes(b.data)}, {"hex", hex}});
    }
    json document = {{"samplerate_hz", result.rate_hz}, {"annotations", list}, {"bytes", bytes}};
    if (result.cut_short) {
        document["cut_short"] = true;
        document["cut_short_reason"] = result.cut_short_reason;
    }
    return document;
}

namespace {

// The escape of a control character, or empty for a character written as it is.
std::string escape_of(unsigned char ch) {
    if (ch == '\n') return "\\n";
    if (ch == '\r') return "\\r";
    if (ch == '\t') return "\\t";
    if (ch >= 0x20 && ch != 0x7F) return "";
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02X", ch);
    return escape;
}

}  // namespace

std::string one_line_text(const std::string& text) {
    std::string out;
    for (unsigned char ch : text) {
        if (ch == '\\') {
            out += "\\\\";
            continue;
        }
        const std::string escape = escape_of(ch);
        out += escape.empty() ? std::string(1, static_cast<char>(ch)) : escape;
    }
    return out;
}

std::string quoted_bytes(const std::string& data) {
    std::string text = "\"";
    char escape[8];
    for (unsigned char ch : data) {
        if (ch == '\\' || ch == '"') {
            text += std::string("\\") + static_cast<char>(ch);
        } else if (ch >= 0x80) {
            std::snprintf(escape, sizeof escape, "\\x%02X", ch);
            text += escape;
        } else {
            const std::string control = escape_of(ch);
            text += control.empty() ? std::string(1, static_cast<char>(ch)) : control;
        }
    }
    return text + "\"";
}

size_t decode_result_bytes(const decode_result& result) {
    size_t size = sizeof result;
    for (const decoded_annotation& a : result.annotations) size += annotation_bytes(a);
    for (const decoded_bytes& b : result.bytes)
        size += sizeof b + b.instance.size() + b.class_name.size() + b.description.size() + b.data.size();
    return size;
}

void preload_decoders_of_library() {
    std::string ignored;
    std::lock_guard<std::mutex> lock(library_mutex);
    if (start_library(ignored)) srd_decoder_load_all();
}

void set_decode_verbose(bool on) {
    std::lock_guard<std::mutex> lock(log_mutex);
    verbose = on;
}
