#include "play_events.h"

#include <algorithm>

#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "module_memory.h"
#include "roll_notes.h"
#include "stream/byte_stream.h"

std::vector<std::uint32_t> channel_event_ticks;
std::vector<std::uint32_t> channel_event_bytes;
std::vector<std::uint32_t> track_first_events;
std::vector<std::uint32_t> tempo_ticks;
std::vector<std::uint32_t> tempo_values;
std::vector<std::uint32_t> tempo_tracks;
std::uint32_t events_not_playable = 0;
bool note_events_kept = false;
std::size_t play_events_kept_free = 0;
std::vector<std::uint32_t> data_event_ticks;
std::vector<std::uint32_t> data_event_tracks;
std::vector<std::uint32_t> data_event_kinds;
std::vector<std::uint32_t> data_event_offsets;
std::vector<std::uint32_t> data_event_lengths;
std::vector<std::uint8_t> data_event_byte_area;
std::uint32_t data_events_dropped = 0;
std::vector<std::uint32_t> play_data;

namespace {

// The index among the roll's tracks of the track being listed (its entry comes with its first line,
// before any event of it is decoded).
std::uint32_t listed_track_index() { return static_cast<std::uint32_t>(track_numbers.size() - 1); }

// Keeps a channel event (a note on or off among them) with its running total; its track's first event
// is marked on the way.
void keep_channel_event(std::int32_t status, std::int32_t first, std::int32_t second, std::uint32_t total) {
    while (track_first_events.size() < track_numbers.size()) {
        if (!make_room(track_first_events)) {  // the memory is all but full: this track's events are left out
            ++events_not_playable;
            return;
        }
        track_first_events.push_back(static_cast<std::uint32_t>(channel_event_ticks.size()));
    }
    // no MIDI output takes bytes above 127; and the memory may have no room for more, beside what the
    // listing still needs
    bool full = channel_event_ticks.size() == channel_event_ticks.capacity() || channel_event_bytes.size() == channel_event_bytes.capacity();
    if (full && !room_for(2 * (channel_event_ticks.capacity() + 1) * 2 * sizeof(std::uint32_t) + play_events_kept_free)) {
        ++events_not_playable;
        return;
    }
    if (first < 0 || first > 127 || second < 0 || second > 127 || !make_room(channel_event_ticks) || !make_room(channel_event_bytes)) {
        ++events_not_playable;
        return;
    }
    channel_event_ticks.push_back(total);
    channel_event_bytes.push_back(static_cast<std::uint32_t>(status) << play_event_status_shift |
                                  static_cast<std::uint32_t>(first) << play_event_first_shift |
                                  static_cast<std::uint32_t>(second) << play_event_second_shift);
}

// Keeps a channel event other than a note, as the listing tells it: at the running total.
void gather_channel_event(std::int32_t status, std::int32_t first, std::int32_t second) { keep_channel_event(status, first, second, running_total); }

}  // namespace

void keep_note_event_slowly(std::int32_t status, std::int32_t note, std::int32_t velocity, std::uint32_t total) {
    keep_channel_event(status, note, velocity, total);
}

namespace {
// Keeps a tempo event with its running total and track (when the memory has room for it).
void gather_tempo(std::uint32_t microseconds) {
    if (!make_room(tempo_ticks) || !make_room(tempo_values) || !make_room(tempo_tracks)) {
        ++events_not_playable;
        return;
    }
    tempo_ticks.push_back(running_total);
    tempo_values.push_back(microseconds);
    tempo_tracks.push_back(listed_track_index());
}

// Whether the memory held no more data events once: all after it are dropped, so that those kept are
// the file's first.
bool data_events_full = false;
// The track whose data events are dropped from a wrap of its total on (none: all ones).
std::uint32_t data_events_wrapped_track = 0xFFFFFFFF;

// Keeps a data event (a system exclusive or text event) of `kind` at the running total, with the
// bytes of its body that the input holds, which follow in the input; past a wrap of its track's total,
// or when the memory has no room for it beside what the listing still needs, it is dropped.
void gather_data_event(std::int32_t kind, std::uint32_t length) {
    std::uint32_t track = listed_track_index();
    bool same_track = !data_event_tracks.empty() && data_event_tracks.back() == track;
    if (same_track && running_total < data_event_ticks.back()) data_events_wrapped_track = track;
    if (data_events_full || data_events_wrapped_track == track) {
        ++data_events_dropped;
        return;
    }
    auto held = static_cast<std::size_t>(std::min<std::uint64_t>(length, static_cast<std::uint64_t>(input_limit - input_next)));
    std::size_t area = data_event_byte_area.size();
    bool grows = data_event_byte_area.capacity() - area < held || data_event_ticks.size() == data_event_ticks.capacity();
    std::size_t growth = 2 * (data_event_byte_area.capacity() + held) + 2 * 5 * sizeof(std::uint32_t) * (data_event_ticks.capacity() + 1);
    if ((grows && !room_for(growth + play_events_kept_free)) || area + held > 0xFFFFFFFF || !make_room(data_event_byte_area, held) ||
        !make_room(data_event_ticks) || !make_room(data_event_tracks) || !make_room(data_event_kinds) || !make_room(data_event_offsets) ||
        !make_room(data_event_lengths)) {
        data_events_full = true;
        ++data_events_dropped;
        return;
    }
    data_event_ticks.push_back(running_total);
    data_event_tracks.push_back(track);
    data_event_kinds.push_back(static_cast<std::uint32_t>(kind));
    data_event_offsets.push_back(static_cast<std::uint32_t>(area));
    data_event_lengths.push_back(static_cast<std::uint32_t>(held));
    data_event_byte_area.insert(data_event_byte_area.end(), input_next, input_next + held);
}

// Where the copy's lists are written (null while the copy is only counted).
struct PlayLists {
    std::uint32_t* first_events;
    std::uint32_t* channels;
    std::uint32_t* first_controls;
    std::uint32_t* control_ticks;
    std::uint32_t* control_bytes;
    std::uint32_t* ticks;
    std::uint32_t* bytes;
    std::uint32_t* long_indexes;
    std::uint32_t* long_durations;
    std::uint32_t* last_ticks;
    std::uint32_t* tempos;  // their ticks, then their values, then their tracks
};

// Whether roll note n is one whose note on is among the events played: a key and velocity of 0 to 127.
bool roll_note_played(std::size_t n) {
    std::uint32_t key = (note_keys[n] & 0x1FFu) - 1;  // a missing note (0) wraps far above 127
    return key <= 127 && n < note_velocities.size() && note_velocities[n] <= 127;
}

// The duration of the roll's note that the note on of track t at `tick`, of channel and key in
// `bytes`, starts: the next of the track's roll notes played from `next` on (the roll starts one at
// each note on played, in the same order); unknown_duration when that is not the note (the roll was
// cut short, or the memory held no more events). Moves `next` past it.
std::uint32_t roll_duration(std::uint32_t t, std::uint32_t tick, std::uint32_t bytes, std::size_t& next) {
    std::size_t end = t + 1 < track_first_notes.size() ? track_first_notes[t + 1] : note_starts.size();
    while (next < end && !roll_note_played(next)) ++next;
    if (next >= end || note_starts[next] != tick) return unknown_duration;
    std::uint32_t key = (note_keys[next] & 0x1FFu) - 1;
    std::uint32_t channel = (note_keys[next] >> key_channel_shift) & 0x0Fu;
    if (key != ((bytes >> play_event_first_shift) & 0x7Fu) || channel != (bytes & 0x0Fu)) return unknown_duration;
    ++next;
    return note_ends[next - 1] - note_starts[next - 1];  // across a wrap of the total too
}

// Counts, and writes to `out` when it is not null, each track's channel events before any wrap of
// its total, each note on with its roll note's duration, and those other than notes among the
// controls; and each track's channels, and its last tick, from its events and its roll notes' ends.
// Sets the counts of events, long events and controls; returns the events left out.
std::uint32_t copy_playable_events(const PlayLists* out, std::uint32_t& events, std::uint32_t& long_events, std::uint32_t& controls) {
    auto tracks = static_cast<std::uint32_t>(track_numbers.size());
    auto gathered = static_cast<std::uint32_t>(channel_event_ticks.size());
    // a track past those whose first event was marked (the memory was full) has none
    auto first = [gathered](std::uint32_t t) { return t < track_first_events.size() ? track_first_events[t] : gathered; };
    std::uint32_t left_out = 0;
    events = 0;
    long_events = 0;
    controls = 0;
    for (std::uint32_t t = 0; t < tracks; ++t) {
        if (out != nullptr) {
            out->first_events[t] = events;
            out->first_controls[t] = controls;
        }
        std::size_t next_note = track_first_notes[t];
        for (std::uint32_t i = first(t); i < first(t + 1); ++i) {
            if (i > first(t) && channel_event_ticks[i] < channel_event_ticks[i - 1]) {
                left_out += first(t + 1) - i;
                break;
            }
            std::uint32_t bytes = channel_event_bytes[i];
            std::uint32_t duration = 0;
            if ((bytes & 0xF0u) == 0x90 && ((bytes >> play_event_second_shift) & 0x7Fu) != 0) {
                duration = roll_duration(t, channel_event_ticks[i], bytes, next_note);
            }
            if ((bytes & 0xE0u) != 0x80) {
                if (out != nullptr) {
                    out->control_ticks[controls] = channel_event_ticks[i];
                    out->control_bytes[controls] = bytes;
                }
                ++controls;
            }
            if (duration >= long_duration) {
                if (out != nullptr) {
                    out->long_indexes[long_events] = events;
                    out->long_durations[long_events] = duration;
                }
                ++long_events;
                duration = long_duration;
            }
            if (out != nullptr) {
                out->ticks[events] = channel_event_ticks[i];
                out->bytes[events] = bytes | duration << play_event_duration_shift;
                out->last_ticks[t] = std::max(out->last_ticks[t], channel_event_ticks[i]);
                out->channels[t] |= 1u << (bytes & 0x0Fu);
            }
            ++events;
        }
        if (out == nullptr) continue;
        // a note the file never ends lasts, in the roll, to its track's end
        std::size_t end = t + 1 < tracks ? track_first_notes[t + 1] : note_starts.size();
        for (std::size_t n = track_first_notes[t]; n < end; ++n) {
            if (n > track_first_notes[t] && note_starts[n] < note_starts[n - 1]) break;  // past a wrap of the total
            if (!roll_note_played(n)) continue;
            std::uint64_t note_end = std::uint64_t{note_starts[n]} + (note_ends[n] - note_starts[n]);
            out->last_ticks[t] = std::max(out->last_ticks[t], static_cast<std::uint32_t>(std::min<std::uint64_t>(note_end, 0xFFFFFFFF)));
        }
    }
    if (out != nullptr) {
        out->first_events[tracks] = events;
        out->first_controls[tracks] = controls;
    }
    return left_out;
}
// Counts, and writes to `out` when it is not null, the tempos in listing order (each track's in order
// of time), past a wrap of a track's total none. `count` is the count to write them as (the first
// pass sets it); returns the tempos left out.
std::uint32_t copy_playable_tempos(const PlayLists* out, std::uint32_t& count) {
    std::uint32_t left_out = 0;
    std::uint32_t kept = 0;
    bool wrapped = false;
    for (std::size_t i = 0; i < tempo_ticks.size(); ++i) {
        bool same_track = i > 0 && tempo_tracks[i] == tempo_tracks[i - 1];
        if (!same_track) wrapped = false;
        if (same_track && tempo_ticks[i] < tempo_ticks[i - 1]) wrapped = true;
        if (wrapped) {
            ++left_out;
            continue;
        }
        if (out != nullptr) {
            out->tempos[kept] = tempo_ticks[i];
            out->tempos[count + kept] = tempo_values[i];
            out->tempos[2 * count + kept] = tempo_tracks[i];
        }
        ++kept;
    }
    if (out == nullptr) count = kept;
    return left_out;
}
}  // namespace

void release_play_events() {
    // swapped with empty lists: their memory goes back, not only their contents
    std::vector<std::uint8_t>().swap(note_velocities);
    std::vector<std::uint8_t>().swap(data_event_byte_area);
    for (auto* list : {&channel_event_ticks, &channel_event_bytes, &track_first_events, &tempo_ticks, &tempo_values, &tempo_tracks,
                       &data_event_ticks, &data_event_tracks, &data_event_kinds, &data_event_offsets, &data_event_lengths, &play_data}) {
        std::vector<std::uint32_t>().swap(*list);
    }
}

void start_play_events(std::size_t input_size) {
    // an eighth of the input and a megabyte kept free beside the events, for what the listing needs
    play_events_kept_free = input_size / 8 + (std::size_t{1} << 20);
    note_velocities.clear();
    // as many as the roll has room for notes (its room was reckoned with their velocities): room only
    // reserved is never touched
    if (room_for(note_starts.capacity())) note_velocities.reserve(note_starts.capacity());
    channel_event_ticks.clear();
    channel_event_bytes.clear();
    track_first_events.clear();
    tempo_ticks.clear();
    tempo_values.clear();
    tempo_tracks.clear();
    events_not_playable = 0;
    for (auto* list : {&data_event_ticks, &data_event_tracks, &data_event_kinds, &data_event_offsets, &data_event_lengths}) list->clear();
    data_event_byte_area.clear();
    data_events_dropped = 0;
    data_events_full = false;
    data_events_wrapped_track = 0xFFFFFFFF;
    std::vector<std::uint32_t>().swap(play_data);
    channel_event_watcher = gather_channel_event;
    note_events_kept = true;
    tempo_watcher = gather_tempo;
    data_event_watcher = gather_data_event;
}

void finish_play_events() {
    while (track_first_events.size() <= track_numbers.size() && make_room(track_first_events)) {
        track_first_events.push_back(static_cast<std::uint32_t>(channel_event_ticks.size()));
    }
    channel_event_watcher = nullptr;
    note_events_kept = false;
    tempo_watcher = nullptr;
    data_event_watcher = nullptr;
}

void make_play_data(std::int32_t format, std::uint32_t division) {
    auto tracks = static_cast<std::uint32_t>(track_numbers.size());
    // counted first, so that the copy is made in place, once
    std::uint32_t events = 0;
    std::uint32_t long_events = 0;
    std::uint32_t controls = 0;
    std::uint32_t left_out = events_not_playable + copy_playable_events(nullptr, events, long_events, controls);
    std::uint32_t tempos = 0;
    left_out += copy_playable_tempos(nullptr, tempos);

    // each list's length, and from them (in the order of SMFDUMP_PLAY_LISTS) where each starts
    std::size_t lengths[play_list_count] = {};
    lengths[play_list_track_first_events] = std::size_t{tracks} + 1;
    lengths[play_list_track_numbers] = tracks;
    lengths[play_list_track_last_ticks] = tracks;
    lengths[play_list_track_channels] = tracks;
    lengths[play_list_track_first_controls] = std::size_t{tracks} + 1;
    lengths[play_list_event_ticks] = events;
    lengths[play_list_event_bytes] = events;
    lengths[play_list_long_event_indexes] = long_events;
    lengths[play_list_long_event_durations] = long_events;
    lengths[play_list_control_ticks] = controls;
    lengths[play_list_control_bytes] = controls;
    lengths[play_list_tempo_ticks] = tempos;
    lengths[play_list_tempo_values] = tempos;
    lengths[play_list_tempo_tracks] = tempos;
    auto data_events = static_cast<std::uint32_t>(data_event_ticks.size());
    auto byte_words = static_cast<std::uint32_t>((data_event_byte_area.size() + 3) / 4);
    for (auto list : {play_list_data_event_ticks, play_list_data_event_tracks, play_list_data_event_kinds, play_list_data_event_offsets,
                      play_list_data_event_lengths}) {
        lengths[list] = data_events;
    }
    lengths[play_list_data_event_bytes] = byte_words;
    std::size_t words = play_head_words;
    for (std::size_t length : lengths) words += length;
    if (!room_for(words * sizeof(std::uint32_t))) {  // a copy of no tracks, all of it left out
        play_data.assign(play_head_words + 2, 0);     // the head, and the two tracks' lists of one word each
        play_data[play_head_format] = static_cast<std::uint32_t>(format);
        play_data[play_head_division] = division;
        play_data[play_head_not_playable] = left_out + events + tempos;
        play_data[play_head_data_events_dropped] = data_events_dropped + data_events;
        return;
    }
    play_data.assign(words, 0);
    std::uint32_t* head = play_data.data();
    head[play_head_format] = static_cast<std::uint32_t>(format);
    head[play_head_division] = division;
    head[play_head_tracks] = tracks;
    head[play_head_events] = events;
    head[play_head_long_events] = long_events;
    head[play_head_controls] = controls;
    head[play_head_tempos] = tempos;
    head[play_head_not_playable] = left_out;
    head[play_head_data_events] = data_events;
    head[play_head_data_event_byte_words] = byte_words;
    head[play_head_data_events_dropped] = data_events_dropped;
    std::uint32_t* list_at[play_list_count] = {};
    std::uint32_t* at = head + play_head_words;
    for (std::size_t list = 0; list < play_list_count; ++list) {
        list_at[list] = at;
        at += lengths[list];
    }
    PlayLists out{};
    out.first_events = list_at[play_list_track_first_events];
    std::uint32_t* numbers = list_at[play_list_track_numbers];
    out.last_ticks = list_at[play_list_track_last_ticks];
    out.ticks = list_at[play_list_event_ticks];
    out.bytes = list_at[play_list_event_bytes];
    out.long_indexes = list_at[play_list_long_event_indexes];
    out.long_durations = list_at[play_list_long_event_durations];
    out.channels = list_at[play_list_track_channels];
    out.first_controls = list_at[play_list_track_first_controls];
    out.control_ticks = list_at[play_list_control_ticks];
    out.control_bytes = list_at[play_list_control_bytes];
    out.tempos = list_at[play_list_tempo_ticks];
    std::copy(track_numbers.begin(), track_numbers.end(), numbers);
    copy_playable_events(&out, events, long_events, controls);
    copy_playable_tempos(&out, tempos);
    std::copy(data_event_ticks.begin(), data_event_ticks.end(), list_at[play_list_data_event_ticks]);
    std::copy(data_event_tracks.begin(), data_event_tracks.end(), list_at[play_list_data_event_tracks]);
    std::copy(data_event_kinds.begin(), data_event_kinds.end(), list_at[play_list_data_event_kinds]);
    std::copy(data_event_offsets.begin(), data_event_offsets.end(), list_at[play_list_data_event_offsets]);
    std::copy(data_event_lengths.begin(), data_event_lengths.end(), list_at[play_list_data_event_lengths]);
    std::uint32_t* byte_area = list_at[play_list_data_event_bytes];
    for (std::size_t i = 0; i < data_event_byte_area.size(); ++i) {
        byte_area[i / 4] |= std::uint32_t{data_event_byte_area[i]} << (8 * (i % 4));
    }
}
