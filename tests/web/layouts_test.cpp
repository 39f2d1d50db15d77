// The layouts the browser module reports (web_layouts), against what its exports hand over: the
// module's C++ built natively, with web/module/native standing in for <emscripten.h>. The page reads
// the module's lists by these layouts, so each group is checked by reading a small listing's
// results through the report, not by comparing the report with the constants it was made from.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "roll_notes.h"
#include "support/example_songs.h"

// The module's exports, as JavaScript calls them.
extern "C" {
unsigned char* web_input(std::size_t size);
double web_list();
const std::uint32_t* web_gathered();
const std::uint32_t* web_note_position(std::uint32_t note, int at_end);
const std::uint32_t* web_play_data();
std::uint32_t web_play_data_words();
void web_play_data_release();
const char* web_layouts();
unsigned char* sf_input(std::size_t size);
const char* sf_read();
const std::uint32_t* sf_tables();
}

// What the module tells the page in JavaScript (EM_JS): natively, nothing is shown.
extern "C" void take_listing_piece(const char*, std::size_t, double, double) {}
extern "C" void take_event_line(double, std::uint32_t, std::uint32_t) {}
extern "C" void take_note(std::int32_t, std::int32_t, std::int32_t) {}

namespace {
using Layouts = std::map<std::string, std::uint32_t>;

// The report parsed as the page parses it: one "key=value" a line, each value an unsigned decimal
// number below 2^32, each key once. Any line out of form fails the test.
Layouts parse_layouts(const char* text) {
    Layouts facts;
    std::string all = text;
    EXPECT_FALSE(all.empty());
    EXPECT_EQ(all.back(), '\n');
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\n', at);
        std::string line = all.substr(at, end - at);
        at = end + 1;
        std::size_t equals = line.find('=');
        EXPECT_NE(equals, std::string::npos) << line;
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        EXPECT_FALSE(key.empty()) << line;
        EXPECT_EQ(key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_."), std::string::npos) << line;
        EXPECT_TRUE(!value.empty() && value.size() <= 10 && value.find_first_not_of("0123456789") == std::string::npos) << line;
        std::uint64_t number = value.empty() || value.size() > 10 ? 0 : std::stoull(value);
        EXPECT_LE(number, 0xFFFFFFFFu) << line;
        EXPECT_TRUE(facts.emplace(key, static_cast<std::uint32_t>(number)).second) << "twice: " << key;
    }
    return facts;
}

// The value of key in the report; fails the test when it has none.
std::uint32_t fact(const Layouts& facts, const std::string& key) {
    auto found = facts.find(key);
    EXPECT_NE(found, facts.end()) << "no " << key;
    return found == facts.end() ? 0xFFFFFFFF : found->second;
}

// Field `name` of word (play.<word>.<name>.shift and .bits in the report).
std::uint32_t field(const Layouts& facts, const std::string& word_kind, const std::string& name, std::uint32_t word) {
    std::uint32_t shift = fact(facts, "play." + word_kind + "." + name + ".shift");
    std::uint32_t bits = fact(facts, "play." + word_kind + "." + name + ".bits");
    std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
    return static_cast<std::uint32_t>((std::uint64_t{word} >> shift) & mask);
}

// Lists format1_song in the module, as the page's worker does.
void list_format1_song() {
    smf::Bytes song = examples::format1_song();
    unsigned char* at = web_input(song.size());
    ASSERT_NE(at, nullptr);
    std::memcpy(at, song.data(), song.size());
    web_list();
}
}  // namespace

TEST(ModuleLayouts, EveryLineIsAKeyAndAnUnsignedNumber) {
    Layouts facts = parse_layouts(web_layouts());
    EXPECT_GT(facts.size(), 100u);
    // asked for twice, the same text
    EXPECT_EQ(std::string(web_layouts()), std::string(web_layouts()));
}

TEST(ModuleLayouts, GatheredPairsAreTheRollsListsInThePagesOrder) {
    list_format1_song();
    Layouts facts = parse_layouts(web_layouts());
    // the order the page reads them in
    const char* page_order[] = {"note_starts",  "note_ends",         "note_keys",          "track_numbers",  "track_first_notes",
                                "reckoning_tracks", "reckoning_totals", "reckoning_signatures", "track_first_blocks", "block_ends",
                                "track_in_order", "long_notes",      "reckoning_totals_before"};
    ASSERT_EQ(fact(facts, "gathered.count"), std::size(page_order));
    for (std::size_t i = 0; i < std::size(page_order); ++i) EXPECT_EQ(fact(facts, std::string("gathered.") + page_order[i]), i);
    // the pairs web_gathered fills are those lists: their counts, and their addresses' low 32 bits
    const std::uint32_t* pairs = web_gathered();
    auto check = [&](const char* name, const auto& list, std::uint32_t element_bytes) {
        std::uint32_t pair = fact(facts, std::string("gathered.") + name);
        EXPECT_EQ(pairs[2 * pair], static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(list.data()))) << name;
        EXPECT_EQ(pairs[2 * pair + 1], list.size()) << name;
        EXPECT_EQ(fact(facts, std::string("gathered.") + name + ".bytes"), element_bytes) << name;
    };
    check("note_starts", note_starts, 4);
    check("note_ends", note_ends, 4);
    check("note_keys", note_keys, 2);
    check("track_numbers", track_numbers, 4);
    check("reckoning_signatures", reckoning_signatures, 4);
    check("track_in_order", track_in_order, 1);
    check("reckoning_totals_before", reckoning_totals_before, 4);
    EXPECT_EQ(pairs[2 * fact(facts, "gathered.note_starts") + 1], 2u);  // C 5 and E 5
    // two reckonings: from the first line on, with no time signature seen; after the time signature, 4/4
    std::uint32_t size = fact(facts, "signature.signature_fields");
    ASSERT_EQ(reckoning_signatures.size(), 2 * size);
    EXPECT_EQ(reckoning_signatures[fact(facts, "signature.signature_seen")], 0u);
    EXPECT_EQ(reckoning_signatures[size + fact(facts, "signature.signature_numerator")], 4u);
    EXPECT_EQ(reckoning_signatures[size + fact(facts, "signature.signature_seen")], 1u);
}

TEST(ModuleLayouts, NotePositionsReadAsTheListingShowsThem) {
    list_format1_song();
    Layouts facts = parse_layouts(web_layouts());
    ASSERT_EQ(fact(facts, "position.position_fields"), 3u);
    // E 5's note on: "0:0:240"; C 5's note off: "0:1:0"
    const std::uint32_t* on = web_note_position(1, 0);
    ASSERT_NE(on, nullptr);
    EXPECT_EQ(on[fact(facts, "position.position_measure")], 0u);
    EXPECT_EQ(on[fact(facts, "position.position_beat")], 0u);
    EXPECT_EQ(on[fact(facts, "position.position_tick")], 240u);
    const std::uint32_t* end = web_note_position(0, 1);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end[fact(facts, "position.position_beat")], 1u);
    EXPECT_EQ(end[fact(facts, "position.position_tick")], 0u);
}

TEST(ModuleLayouts, ThePlayedCopyReadsAsTheFileThroughTheReport) {
    list_format1_song();
    Layouts facts = parse_layouts(web_layouts());
    const std::uint32_t* d = web_play_data();
    std::uint32_t words = web_play_data_words();
    std::uint32_t head = fact(facts, "play.head_words");
    ASSERT_GE(words, head);
    std::uint32_t tracks = d[fact(facts, "play.head.tracks")];
    std::uint32_t events = d[fact(facts, "play.head.events")];
    std::uint32_t longs = d[fact(facts, "play.head.long_events")];
    std::uint32_t controls = d[fact(facts, "play.head.controls")];
    std::uint32_t tempos = d[fact(facts, "play.head.tempos")];
    std::uint32_t data_events = d[fact(facts, "play.head.data_events")];
    std::uint32_t byte_words = d[fact(facts, "play.head.data_event_byte_words")];
    EXPECT_EQ(d[fact(facts, "play.head.format")], 1u);
    EXPECT_EQ(d[fact(facts, "play.head.division")], 480u);
    EXPECT_EQ(tracks, 1u);
    EXPECT_EQ(events, 9u);  // program, two controllers, two notes on and a note off, poly and channel pressure, pitch bend
    EXPECT_EQ(longs, 1u);   // E 5, held to the track's end
    EXPECT_EQ(controls, 6u);  // all but the notes
    EXPECT_EQ(tempos, 0u);
    EXPECT_EQ(data_events, 1u);  // the system exclusive
    EXPECT_EQ(byte_words, 1u);
    EXPECT_EQ(d[fact(facts, "play.head.data_events_dropped")], 0u);
    // the lists after the head, in the order the report gives, each of the length its name says
    std::map<std::string, std::uint32_t> lengths = {
        {"track_first_events", tracks + 1}, {"track_numbers", tracks},        {"track_last_ticks", tracks},
        {"track_channels", tracks},         {"track_first_controls", tracks + 1}, {"event_ticks", events},
        {"event_bytes", events},            {"long_event_indexes", longs},    {"long_event_durations", longs},
        {"control_ticks", controls},        {"control_bytes", controls},      {"tempo_ticks", tempos},
        {"tempo_values", tempos},           {"tempo_tracks", tempos},         {"data_event_ticks", data_events},
        {"data_event_tracks", data_events}, {"data_event_kinds", data_events}, {"data_event_offsets", data_events},
        {"data_event_lengths", data_events}, {"data_event_bytes", byte_words}};
    std::vector<std::string> order(lengths.size());
    for (const auto& [name, length] : lengths) {
        std::uint32_t place = fact(facts, "play.list." + name);
        ASSERT_LT(place, order.size()) << name;
        EXPECT_TRUE(order[place].empty()) << name;
        order[place] = name;
    }
    std::map<std::string, const std::uint32_t*> list;
    std::size_t at = head;
    for (const std::string& name : order) {
        list[name] = d + at;
        at += lengths[name];
    }
    ASSERT_EQ(at, words);
    // C 5 at 0 for 480 ticks, velocity 100; E 5 at 240 to the track's end (1680), velocity 90: its
    // duration among the long events; channel 1
    std::uint32_t c5 = list["event_bytes"][3];
    std::uint32_t e5 = list["event_bytes"][4];
    EXPECT_EQ(list["event_ticks"][3], 0u);
    EXPECT_EQ(field(facts, "event", "status", c5), 0x90u);
    EXPECT_EQ(field(facts, "event", "first", c5), 60u);
    EXPECT_EQ(field(facts, "event", "second", c5), 100u);
    EXPECT_EQ(field(facts, "event", "duration", c5), 480u);
    EXPECT_EQ(list["event_ticks"][4], 240u);
    EXPECT_EQ(field(facts, "event", "first", e5), 64u);
    EXPECT_EQ(field(facts, "event", "second", e5), 90u);
    EXPECT_EQ(field(facts, "event", "duration", e5), fact(facts, "play.long_duration"));
    EXPECT_EQ(list["long_event_indexes"][0], 4u);
    EXPECT_EQ(list["long_event_durations"][0], 1440u);
    EXPECT_EQ(list["track_last_ticks"][0], 1680u);
    EXPECT_EQ(list["track_channels"][0], (1u << 0) | (1u << 1) | (1u << 3));  // channels 1, 2 and 4
    // the controls: the program, the two controllers, then past the notes the pressures and the bend,
    // as the events have them
    for (std::uint32_t c = 0; c < controls; ++c) {
        std::uint32_t e = std::vector<std::uint32_t>{0, 1, 2, 6, 7, 8}[c];
        EXPECT_EQ(list["control_ticks"][c], list["event_ticks"][e]) << c;
        EXPECT_EQ(list["control_bytes"][c], list["event_bytes"][e]) << c;
    }
    // the other events: channel volume on channel 4 at 0, C 5's note off as written (velocity 64, at
    // 480, no duration), and the pitch bend at 1680
    std::uint32_t volume = list["event_bytes"][1];
    EXPECT_EQ(field(facts, "event", "status", volume), 0xB3u);
    EXPECT_EQ(field(facts, "event", "first", volume), 7u);
    EXPECT_EQ(field(facts, "event", "second", volume), 100u);
    std::uint32_t off = list["event_bytes"][5];
    EXPECT_EQ(list["event_ticks"][5], 480u);
    EXPECT_EQ(field(facts, "event", "status", off), 0x80u);
    EXPECT_EQ(field(facts, "event", "first", off), 60u);
    EXPECT_EQ(field(facts, "event", "second", off), 64u);
    EXPECT_EQ(field(facts, "event", "duration", off), 0u);
    std::uint32_t bend = list["event_bytes"][8];
    EXPECT_EQ(list["event_ticks"][8], 1680u);
    EXPECT_EQ(field(facts, "event", "status", bend), 0xE0u);
    EXPECT_EQ(field(facts, "event", "second", bend), 0x40u);
    EXPECT_EQ(fact(facts, "play.long_duration"), (1u << fact(facts, "play.event.duration.bits")) - 1);
    // the system exclusive at 1680: its bytes after the length (7E 7F F7), the first in the low byte
    EXPECT_EQ(list["data_event_ticks"][0], 1680u);
    EXPECT_EQ(list["data_event_tracks"][0], 0u);
    EXPECT_EQ(list["data_event_kinds"][0], 0xF0u);
    EXPECT_EQ(list["data_event_offsets"][0], 0u);
    EXPECT_EQ(list["data_event_lengths"][0], 3u);
    EXPECT_EQ(list["data_event_bytes"][0], 0x7Eu | 0x7Fu << 8 | 0xF7u << 16);
    web_play_data_release();
}

TEST(ModuleLayouts, SoundFontTablesTellTheFieldCountsTheReportGives) {
    Layouts facts = parse_layouts(web_layouts());
    ASSERT_NE(sf_input(4), nullptr);
    EXPECT_NE(sf_read(), nullptr);  // four zero bytes are no SoundFont: the tables are empty, their layout is not
    const std::uint32_t* tables = sf_tables();
    EXPECT_EQ(fact(facts, "soundfont.tables.table_entries"), fact(facts, "soundfont.tables.table_sample_fields") + 1);
    EXPECT_EQ(tables[fact(facts, "soundfont.tables.table_preset_fields")], fact(facts, "soundfont.preset.preset_fields"));
    EXPECT_EQ(tables[fact(facts, "soundfont.tables.table_region_word_fields")], fact(facts, "soundfont.region_word.region_word_fields"));
    EXPECT_EQ(tables[fact(facts, "soundfont.tables.table_region_value_fields")],
              fact(facts, "soundfont.region_value.region_value_fields"));
    EXPECT_EQ(tables[fact(facts, "soundfont.tables.table_sample_fields")], fact(facts, "soundfont.sample.sample_fields"));
    EXPECT_EQ(tables[fact(facts, "soundfont.tables.table_preset_count")], 0u);
    EXPECT_EQ(fact(facts, "soundfont.preset_name_size"), 21u);
    EXPECT_EQ(fact(facts, "soundfont.sample_type_ogg"), 0x10u);
}
