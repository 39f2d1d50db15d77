// The layouts of what the module hands the page in fixed form, reported by the module itself
// (web_layouts), so that the page's JavaScript can check its own reading of them against the C++ that
// made them. Every key is made from the C++ identifier it reports (stringified by a macro) and every
// value is that identifier's value, so that the report can't drift from the code.
#include <emscripten.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "listed_file.h"
#include "play_events.h"
#include "roll_notes.h"
#include "soundfont.h"

namespace {
// One line of the report: its key (a prefix, then the identifier it reports) and its value.
struct Fact {
    const char* prefix;
    const char* name;
    std::uint32_t value;
};

std::string layouts_text;  // the report web_layouts hands over, terminated

// A fact named by the identifier it reports, after a prefix given as a string literal.
#define SMFDUMP_FACT(prefix, name) Fact{(prefix), #name, static_cast<std::uint32_t>(name)}

// Adds a fact named by the identifier it reports less the start `strip` it has, after a prefix.
#define SMFDUMP_FACT_AFTER(prefix, strip, name)                   \
    static_assert(std::string_view(#name).starts_with(strip)); \
    add_fact(prefix, std::string_view(#name).substr(std::string_view(strip).size()), "", name)

// True when the facts' values count up from 0, one to each: the enumerators of a layout, each listed once and in order.
template <std::size_t n>
constexpr bool counts_up(const Fact (&facts)[n]) {
    for (std::size_t i = 0; i < n; ++i) {
        if (facts[i].value != i) return false;
    }
    return true;
}

// Each enumeration of a layout, whole: its last enumerator (the count) is in it too, so that one left out
// or added in the header fails the counts_up check below rather than going unreported.
constexpr Fact position_facts[] = {
    SMFDUMP_FACT("position.", position_measure), SMFDUMP_FACT("position.", position_beat),
    SMFDUMP_FACT("position.", position_tick), SMFDUMP_FACT("position.", position_fields)};
constexpr Fact signature_facts[] = {
    SMFDUMP_FACT("signature.", signature_numerator), SMFDUMP_FACT("signature.", signature_denominator),
    SMFDUMP_FACT("signature.", signature_seen), SMFDUMP_FACT("signature.", signature_fields)};
constexpr Fact preset_facts[] = {
    SMFDUMP_FACT("soundfont.preset.", preset_bank), SMFDUMP_FACT("soundfont.preset.", preset_program),
    SMFDUMP_FACT("soundfont.preset.", preset_first_region), SMFDUMP_FACT("soundfont.preset.", preset_region_count),
    SMFDUMP_FACT("soundfont.preset.", preset_fields)};
constexpr Fact region_word_facts[] = {
    SMFDUMP_FACT("soundfont.region_word.", region_key_low), SMFDUMP_FACT("soundfont.region_word.", region_key_high),
    SMFDUMP_FACT("soundfont.region_word.", region_velocity_low), SMFDUMP_FACT("soundfont.region_word.", region_velocity_high),
    SMFDUMP_FACT("soundfont.region_word.", region_sample), SMFDUMP_FACT("soundfont.region_word.", region_start),
    SMFDUMP_FACT("soundfont.region_word.", region_end), SMFDUMP_FACT("soundfont.region_word.", region_loop_start),
    SMFDUMP_FACT("soundfont.region_word.", region_loop_end), SMFDUMP_FACT("soundfont.region_word.", region_loop_mode),
    SMFDUMP_FACT("soundfont.region_word.", region_root_key), SMFDUMP_FACT("soundfont.region_word.", region_exclusive_class),
    SMFDUMP_FACT("soundfont.region_word.", region_first_modulator), SMFDUMP_FACT("soundfont.region_word.", region_modulator_count),
    SMFDUMP_FACT("soundfont.region_word.", region_word_fields)};
constexpr Fact region_value_facts[] = {
    SMFDUMP_FACT("soundfont.region_value.", region_coarse_tune), SMFDUMP_FACT("soundfont.region_value.", region_fine_tune),
    SMFDUMP_FACT("soundfont.region_value.", region_pitch_correction), SMFDUMP_FACT("soundfont.region_value.", region_scale_tuning),
    SMFDUMP_FACT("soundfont.region_value.", region_attenuation), SMFDUMP_FACT("soundfont.region_value.", region_pan),
    SMFDUMP_FACT("soundfont.region_value.", region_delay), SMFDUMP_FACT("soundfont.region_value.", region_attack),
    SMFDUMP_FACT("soundfont.region_value.", region_hold), SMFDUMP_FACT("soundfont.region_value.", region_decay),
    SMFDUMP_FACT("soundfont.region_value.", region_sustain), SMFDUMP_FACT("soundfont.region_value.", region_release),
    SMFDUMP_FACT("soundfont.region_value.", region_key_to_hold), SMFDUMP_FACT("soundfont.region_value.", region_key_to_decay),
    SMFDUMP_FACT("soundfont.region_value.", region_filter_cutoff), SMFDUMP_FACT("soundfont.region_value.", region_filter_q),
    SMFDUMP_FACT("soundfont.region_value.", region_mod_env_delay), SMFDUMP_FACT("soundfont.region_value.", region_mod_env_attack),
    SMFDUMP_FACT("soundfont.region_value.", region_mod_env_hold), SMFDUMP_FACT("soundfont.region_value.", region_mod_env_decay),
    SMFDUMP_FACT("soundfont.region_value.", region_mod_env_sustain), SMFDUMP_FACT("soundfont.region_value.", region_mod_env_release),
    SMFDUMP_FACT("soundfont.region_value.", region_key_to_mod_env_hold), SMFDUMP_FACT("soundfont.region_value.", region_key_to_mod_env_decay),
    SMFDUMP_FACT("soundfont.region_value.", region_mod_env_to_pitch), SMFDUMP_FACT("soundfont.region_value.", region_mod_env_to_filter),
    SMFDUMP_FACT("soundfont.region_value.", region_mod_lfo_delay), SMFDUMP_FACT("soundfont.region_value.", region_mod_lfo_frequency),
    SMFDUMP_FACT("soundfont.region_value.", region_mod_lfo_to_pitch), SMFDUMP_FACT("soundfont.region_value.", region_mod_lfo_to_filter),
    SMFDUMP_FACT("soundfont.region_value.", region_mod_lfo_to_volume), SMFDUMP_FACT("soundfont.region_value.", region_vib_lfo_delay),
    SMFDUMP_FACT("soundfont.region_value.", region_vib_lfo_frequency), SMFDUMP_FACT("soundfont.region_value.", region_vib_lfo_to_pitch),
    SMFDUMP_FACT("soundfont.region_value.", region_reverb_send), SMFDUMP_FACT("soundfont.region_value.", region_chorus_send),
    SMFDUMP_FACT("soundfont.region_value.", region_value_fields)};
constexpr Fact sample_facts[] = {
    SMFDUMP_FACT("soundfont.sample.", sample_byte_offset), SMFDUMP_FACT("soundfont.sample.", sample_byte_length),
    SMFDUMP_FACT("soundfont.sample.", sample_frames), SMFDUMP_FACT("soundfont.sample.", sample_rate),
    SMFDUMP_FACT("soundfont.sample.", sample_type), SMFDUMP_FACT("soundfont.sample.", sample_link),
    SMFDUMP_FACT("soundfont.sample.", sample_fields)};
constexpr Fact table_facts[] = {
    SMFDUMP_FACT("soundfont.tables.", table_preset_count), SMFDUMP_FACT("soundfont.tables.", table_presets),
    SMFDUMP_FACT("soundfont.tables.", table_preset_names), SMFDUMP_FACT("soundfont.tables.", table_region_count),
    SMFDUMP_FACT("soundfont.tables.", table_region_words), SMFDUMP_FACT("soundfont.tables.", table_region_values),
    SMFDUMP_FACT("soundfont.tables.", table_sample_count), SMFDUMP_FACT("soundfont.tables.", table_samples),
    SMFDUMP_FACT("soundfont.tables.", table_name), SMFDUMP_FACT("soundfont.tables.", table_version_major),
    SMFDUMP_FACT("soundfont.tables.", table_version_minor), SMFDUMP_FACT("soundfont.tables.", table_modulator_count),
    SMFDUMP_FACT("soundfont.tables.", table_regions_dropped), SMFDUMP_FACT("soundfont.tables.", table_loops_mended),
    SMFDUMP_FACT("soundfont.tables.", table_remark), SMFDUMP_FACT("soundfont.tables.", table_input),
    SMFDUMP_FACT("soundfont.tables.", table_input_size), SMFDUMP_FACT("soundfont.tables.", table_preset_fields),
    SMFDUMP_FACT("soundfont.tables.", table_region_word_fields), SMFDUMP_FACT("soundfont.tables.", table_region_value_fields),
    SMFDUMP_FACT("soundfont.tables.", table_sample_fields), SMFDUMP_FACT("soundfont.tables.", table_modulator_total),
    SMFDUMP_FACT("soundfont.tables.", table_modulator_words), SMFDUMP_FACT("soundfont.tables.", table_modulator_amounts),
    SMFDUMP_FACT("soundfont.tables.", table_modulator_word_fields), SMFDUMP_FACT("soundfont.tables.", table_presets_refused),
    SMFDUMP_FACT("soundfont.tables.", table_layers_dropped), SMFDUMP_FACT("soundfont.tables.", table_entries)};
constexpr Fact modulator_facts[] = {
    SMFDUMP_FACT("soundfont.modulator.", modulator_source), SMFDUMP_FACT("soundfont.modulator.", modulator_destination),
    SMFDUMP_FACT("soundfont.modulator.", modulator_amount_source), SMFDUMP_FACT("soundfont.modulator.", modulator_transform),
    SMFDUMP_FACT("soundfont.modulator.", modulator_word_fields)};
static_assert(counts_up(position_facts) && std::size(position_facts) == position_fields + 1);
static_assert(counts_up(signature_facts) && std::size(signature_facts) == signature_fields + 1);
static_assert(counts_up(preset_facts) && std::size(preset_facts) == preset_fields + 1);
static_assert(counts_up(region_word_facts) && std::size(region_word_facts) == region_word_fields + 1);
static_assert(counts_up(region_value_facts) && std::size(region_value_facts) == region_value_fields + 1);
static_assert(counts_up(sample_facts) && std::size(sample_facts) == sample_fields + 1);
static_assert(counts_up(table_facts) && std::size(table_facts) == table_entries + 1);
static_assert(counts_up(modulator_facts) && std::size(modulator_facts) == modulator_word_fields + 1);

// Single facts: sizes and bounds of the roll's lists, the compact copy's, and the SoundFont's.
constexpr Fact constant_facts[] = {
    SMFDUMP_FACT("roll.", key_channel_shift), SMFDUMP_FACT("roll.", key_steps_shift), SMFDUMP_FACT("roll.", key_steps_kept),
    SMFDUMP_FACT("roll.", notes_per_block), SMFDUMP_FACT("roll.", overview_bins), SMFDUMP_FACT("roll.", overview_from_notes),
    SMFDUMP_FACT("roll.", long_note_bins), SMFDUMP_FACT("roll.", no_reckoning),
    SMFDUMP_FACT("play.", long_duration),
    SMFDUMP_FACT("play.", unknown_duration),
    SMFDUMP_FACT("soundfont.", preset_name_size), SMFDUMP_FACT("soundfont.", sample_type_ogg),
    SMFDUMP_FACT("soundfont.", sample_no_link), SMFDUMP_FACT("soundfont.", layer_limit)};

// Adds the line "prefix+name+suffix=value" to the report.
void add_fact(const char* prefix, std::string_view name, const char* suffix, std::uint64_t value) {
    layouts_text += prefix;
    layouts_text += name;
    layouts_text += suffix;
    layouts_text += '=';
    layouts_text += std::to_string(value);
    layouts_text += '\n';
}

// Adds each of the facts to the report.
template <std::size_t n>
void add_facts(const Fact (&facts)[n]) {
    for (const Fact& fact : facts) add_fact(fact.prefix, fact.name, "", fact.value);
}

// Fills layouts_text with the whole report.
void write_layouts() {
    layouts_text.clear();
    // the pairs web_gathered hands over, in its order, and the size of each list's entries
    add_fact("gathered.", "count", "", gathered_lists_count);
#define SMFDUMP_GATHERED_FACTS(list)                  \
    add_fact("gathered.", #list, "", gathered_##list); \
    add_fact("gathered.", #list, ".bytes", sizeof((list)[0]));
    SMFDUMP_GATHERED_LISTS(SMFDUMP_GATHERED_FACTS)
#undef SMFDUMP_GATHERED_FACTS
    add_facts(signature_facts);
    add_facts(position_facts);
    // the compact copy of what is played (web_play_data)
    SMFDUMP_FACT_AFTER("play.", "play_", play_head_words);
#define SMFDUMP_PLAY_HEAD_FACT(name) add_fact("play.head.", #name, "", play_head_##name);
    SMFDUMP_PLAY_HEAD(SMFDUMP_PLAY_HEAD_FACT)
#undef SMFDUMP_PLAY_HEAD_FACT
#define SMFDUMP_PLAY_EVENT_FACTS(name, shift, bits)                      \
    add_fact("play.event.", #name, ".shift", play_event_##name##_shift); \
    add_fact("play.event.", #name, ".bits", play_event_##name##_bits);
    SMFDUMP_PLAY_EVENT_FIELDS(SMFDUMP_PLAY_EVENT_FACTS)
#undef SMFDUMP_PLAY_EVENT_FACTS
#define SMFDUMP_PLAY_LIST_FACT(name) add_fact("play.list.", #name, "", play_list_##name);
    SMFDUMP_PLAY_LISTS(SMFDUMP_PLAY_LIST_FACT)
#undef SMFDUMP_PLAY_LIST_FACT
    // the SoundFont's tables (sf_tables)
    add_facts(preset_facts);
    add_facts(region_word_facts);
    add_facts(region_value_facts);
    add_facts(sample_facts);
    add_facts(modulator_facts);
    add_facts(table_facts);
    add_facts(constant_facts);
}
}  // namespace

extern "C" {

// The layouts of what the module hands the page in fixed form, as text: one fact a line, "key=value"
// with an unsigned decimal value, ending in a zero byte; returns its address. Each key names a C++
// identifier, after a prefix that says which area it belongs to:
//   gathered.count                 the pairs (address, count) web_gathered hands over
//   gathered.<list>                the index of <list>'s pair, in web_gathered's order
//   gathered.<list>.bytes          the size of one of <list>'s entries
//   signature.<field>              a word of a reckoning's entry in reckoning_signatures (Signature_field)
//   position.<field>               a word of what web_position and web_note_position return (Position_field)
//   play.head.<name>               a word of the compact copy's head (web_play_data)
//   play.note.<field>.shift/.bits  a field of a note word of the copy; play.event.<field>.shift/.bits of an event word
//   play.list.<name>               the place of a list among those after the head, in order
//   soundfont.preset/region_word/region_value/sample/modulator.<enumerator>
//                                  a field of a preset's words, a region's words and floats, a sample's words, a modulator's words
//   soundfont.tables.<enumerator>  a word of what sf_tables returns (Table_entry)
//   roll.<constant>, play.<constant>, soundfont.<constant>   bounds and bits the page reads by
// Each enumeration is reported whole, its last enumerator being its count.
EMSCRIPTEN_KEEPALIVE const char* web_layouts() {
    write_layouts();
    return layouts_text.c_str();
}
}
