// The channel settings the server keeps and info and export read: every refusal names its
// field, a file with only some keys keeps the defaults for the rest, and a damaged file gives
// the defaults and says why.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "services/channel_settings.h"
#include "support/temp_dir.h"

namespace {

using json = nlohmann::json;

// The field a document is refused at, and the message.
std::pair<std::string, std::string> refusal(const std::string& text) {
    channel_settings s;
    std::string field, message;
    EXPECT_FALSE(channel_settings_from_json(json::parse(text), s, field, message)) << text;
    return {field, message};
}

TEST(ChannelSettings, RefusalsNameTheirField) {
    const struct {
        const char* document;
        const char* field;
    } cases[] = {
        {R"({"analogue": [{"colour": "#12345"}]})", "analogue.0.colour"},
        {R"({"analogue": [{}, {"colour": "red"}]})", "analogue.1.colour"},
        {R"({"analogue": [{"volts_per_code": 0}]})", "analogue.0.volts_per_code"},
        {R"({"analogue": [{"volts_per_code": -0.02}]})", "analogue.0.volts_per_code"},
        {R"({"analogue": [{"volts_per_code": "0.02"}]})", "analogue.0.volts_per_code"},
        {R"({"analogue": [{"zero_code": 256}]})", "analogue.0.zero_code"},
        {R"({"analogue": [{"zero_code": 12.5}]})", "analogue.0.zero_code"},
        {R"({"analogue": [{"probe": 2}]})", "analogue.0.probe"},
        {R"({"analogue": [{"unit": ""}]})", "analogue.0.unit"},
        {R"({"analogue": [{"unit": "123456789"}]})", "analogue.0.unit"},
        {R"({"analogue": [{"per_div": 0}]})", "analogue.0.per_div"},
        {R"({"analogue": [{"position": 5.5}]})", "analogue.0.position"},
        {R"({"analogue": [{"on": 1}]})", "analogue.0.on"},
        {R"({"analogue": [{"label": ""}]})", "analogue.0.label"},
        {R"({"analogue": [{"label": "123456789012345678901234567890123"}]})", "analogue.0.label"},
        {R"({"analogue": [{"label": "A\u0007"}]})", "analogue.0.label"},
        {R"({"analogue": [{"volts_per_cod": 1}]})", "analogue.0.volts_per_cod"},
        {R"({"analogue": [{"id": "C"}]})", "analogue.0.id"},
        {R"({"analogue": [{"id": "B"}, {"id": "B"}]})", "analogue.1.id"},
        {R"({"analogue": [{}, {}, {}]})", "analogue"},
        {R"({"analogue": {}})", "analogue"},
        {R"({"logic": [{"id": "D15", "label": "SCL", "colour": "#00ff0"}]})", "logic.0.colour"},
        {R"({"logic": ["SCL"]})", "logic.0"},
        {R"({"channels": []})", "channels"},
    };
    for (const auto& c : cases) EXPECT_EQ(refusal(c.document).first, c.field) << c.document;
    // The words name the channel as the user knows it.
    EXPECT_EQ(refusal(R"({"analogue": [{"id": "B", "probe": 3}]})").second, "Channel B probe: takes 1, 10 or 100");
    EXPECT_EQ(refusal(R"({"logic": [{}, {"colour": "#zzzzzz"}]})").second,
              "Input D1 colour: '#zzzzzz' is not a colour; give one as #rrggbb, such as #f2c200");
}

TEST(ChannelSettings, SomeKeysKeepTheDefaultsOfTheRest) {
    channel_settings s;
    std::string field, message;
    ASSERT_TRUE(channel_settings_from_json(
        json::parse(R"({"analogue": [{"id": "B", "volts_per_code": 0.02, "probe": 10, "zero_code": 100,
                                      "colour": "#ABCDEF", "label": "Ausgang µ"}],
                        "logic": [{"id": "D7", "label": "SDA"}]})"),
        s, field, message))
        << field << ": " << message;
    const channel_settings defaults = default_channel_settings();
    EXPECT_EQ(s.analogue[0].colour, defaults.analogue[0].colour);
    EXPECT_FALSE(s.analogue[0].scaled());
    EXPECT_EQ(s.analogue[1].colour, "#abcdef");
    EXPECT_EQ(s.analogue[1].label, "Ausgang µ");
    EXPECT_DOUBLE_EQ(s.analogue[1].value(150), 50 * 0.02 * 10);  // (code - zero) x volts x probe
    EXPECT_EQ(s.logic[7].label, "SDA");
    EXPECT_EQ(s.logic[6].label, "D6");
    EXPECT_EQ(s.logic[7].colour, defaults.logic[7].colour);

    // What the JSON gives is read back as the same settings.
    channel_settings again;
    ASSERT_TRUE(channel_settings_from_json(json(channel_settings_json(s)), again, field, message)) << message;
    EXPECT_EQ(channel_settings_json(again), channel_settings_json(s));
    EXPECT_TRUE(channel_settings_json(defaults)["analogue"][0]["volts_per_code"].is_null());
}

TEST(ChannelSettings, FilesDamagedMissingAndWritten) {
    temp_dir dir;
    const std::string path = dir.file("config/korvane/channels.json");
    channel_settings s;
    std::string message;
    EXPECT_EQ(read_channel_settings_file(path, s, message), 1);

    s.analogue[0].volts_per_code = 0.5;
    ASSERT_TRUE(write_channel_settings_file(path, s, message)) << message;  // the folders are made
    channel_settings read;
    ASSERT_EQ(read_channel_settings_file(path, read, message), 0) << message;
    EXPECT_DOUBLE_EQ(read.analogue[0].volts_per_code, 0.5);

    for (const std::string& damage : {std::string("{\"analogue\": [{\"probe\": 3}]}"), std::string("{\"analogue\": ["),
                                      std::string(20000, '['), std::string(70000, ' ')}) {
        std::ofstream(path) << damage;
        read.analogue[0].volts_per_code = 7;
        EXPECT_EQ(read_channel_settings_file(path, read, message), 2) << damage.substr(0, 40);
        EXPECT_FALSE(read.analogue[0].scaled()) << "the defaults, not a part of the damaged file";
        EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
    }
}

}  // namespace
