// The entry points the page's worker calls for playing: the compact copy of what is played, and the
// resume point from which the listing line played at a tick is found. Each is called from JavaScript.
#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "listing/file_structure.h"
#include "listing_resume.h"
#include "play_events.h"

extern "C" {

// Makes the compact copy of what is played (play_data) from the last full listing and returns where
// it is; web_play_data_words tells its size.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* web_play_data() {
    make_play_data(midi_format, static_cast<std::uint32_t>(division));
    return play_data.data();
}

// The words in the compact copy last made.
EMSCRIPTEN_KEEPALIVE std::uint32_t web_play_data_words() { return static_cast<std::uint32_t>(play_data.size()); }

// Lets go of the compact copy once the page has taken it, and of what it was made from: the copy is
// made once for each full listing.
EMSCRIPTEN_KEEPALIVE void web_play_data_release() { release_play_events(); }

// The last resume point at or before the event lines of the track at track_index (among the roll's
// tracks) whose running total is `tick` or less; -1 when the listing's start comes first.
EMSCRIPTEN_KEEPALIVE std::int32_t web_resume_point_for_tick(std::uint32_t track_index, std::uint32_t tick) {
    auto after = std::upper_bound(resume_points.begin(), resume_points.end(), std::make_pair(track_index, tick),
                                  [](std::pair<std::uint32_t, std::uint32_t> at, const ListingState& p) {
                                      return at.first < p.track_index || (at.first == p.track_index && at.second < p.running_total);
                                  });
    return static_cast<std::int32_t>(after - resume_points.begin()) - 1;
}
}
