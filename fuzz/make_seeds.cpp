// Writes the starting corpus of the fuzz targets: into <folder>/listing a few whole multi-track files
// with every kind of event, and damaged ones; into <folder>/names a few names files; into
// <folder>/soundfont the test SoundFont, an .sf3 form of it, and damaged ones; into <folder>/web whole
// files followed by sequences of calls of the page's entry points.
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/smf_builder.h"
#include "web/soundfont_builder.h"

namespace fs = std::filesystem;
using namespace smf;

namespace {
// Writes content to folder/name; false when the file can't be written whole.
bool write_seed(const fs::path& folder, const char* name, const std::string& content) {
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

// The bytes of a string literal, zero bytes inside it included.
template <std::size_t N>
std::string raw(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// A track with every channel event kind, each under its own status and under running status.
Bytes channel_track() {
    return track(event(0, {0xC0, 0}) +               // program change, channel 1
                 event(0, {1}) +                      // running status: program 1
                 event(0, {0xB3, 7, 100}) +           // channel volume, channel 4
                 event(0, {10, 64}) +                 // running status: pan
                 event(0, {0x90, 60, 100}) +          // note on C 5
                 event(240, {64, 90}) +               // running status: note on E 5
                 event(240, {0x80, 60, 64}) +         // note off
                 event(0, {62, 0}) +                  // running status: note off D 5
                 event(0, {0xA1, 60, 32}) +           // polyphonic pressure, channel 2
                 event(0, {61, 33}) +                 // running status
                 event(0, {0xD1, 48}) +               // channel pressure, channel 2
                 event(0, {49}) +                     // running status
                 event(1200, {0xEF, 0, 64}) +         // pitch bend, channel 16
                 event(0, {1, 64}) +                  // running status
                 end_of_track());
}

// A track with every system and meta event kind.
Bytes system_track() {
    return track(meta(0, 0x03, "Piano") +                      // sequence name
                 meta(0, 0x01, "verse 1") +                     // text
                 meta(0, 0x02, "(c) nobody") +                  // copyright
                 meta(0, 0x06, "A") +                           // marker
                 meta(0, 0x05, "la") +                          // lyric: shown by its type number
                 event(0, {0xFF, 0x51, 3, 7, 161, 32}) +        // tempo 500000
                 event(0, {0xFF, 0x58, 4, 6, 3, 24, 8}) +       // time 6/8
                 event(0, {0xFF, 0x59, 2, 254, 1}) +            // key: 2 flats, minor
                 event(0, {0xF0, 3, 0x7E, 0x7F, 0xF7}) +        // system exclusive
                 event(0, {0xF7, 2, 0x43, 0xF7}) +              // system exclusive, continued
                 event(0, {0xF1, 5}) +                          // time code quarter frame
                 event(0, {0xF2, 0, 8}) +                       // song position
                 event(0, {0xF3, 2}) +                          // song select
                 event(0, {0xF8}) +                             // unhandled system status
                 event(0, {80}) +                               // stray data byte after a system event
                 end_of_track());
}

// A format-1 file of three tracks covering every event kind.
Bytes whole_song() { return header(1, 3, 480) + system_track() + channel_track() + channel_track(); }

// A sequence of calls for the page's fuzz target, to follow a file: four bytes for each call (the
// call, then three bytes of its arguments, as web_fuzz.cpp reads them) and the number of calls.
Bytes calls(std::initializer_list<Bytes> each) {
    Bytes out;
    for (const Bytes& call : each) out += call;
    return out + bytes({static_cast<int>(each.size())});
}

// The test SoundFont with its sample as an Ogg stream (the pages' headers only): an .sf3.
sf2::Bytes compressed_soundfont() {
    sf2::Parts p = sf2::example();
    p.version = sf2::le(3, 2) + sf2::le(1, 2);
    sf2::Bytes stream = sf2::ogg_page(2, 0, 0) + "header" + sf2::ogg_page(4, 700, 1);
    p.sample_data = stream + sf2::Bytes(46, '\0');
    p.samples = {sf2::sample("Pad C4", 0, static_cast<std::uint32_t>(stream.size()), 40, 600, 44100, 64, -7, 0, 0x11)};
    return sf2::soundfont(p);
}

// The test SoundFont with a stereo pair of samples, the second zone's loop reaching past its sample.
sf2::Bytes stereo_soundfont() {
    sf2::Parts p = sf2::example();
    p.samples = {sf2::sample("Pad L", 10, 110, 30, 90, 32000, 64, -7, 1, 4),
                 sf2::sample("Pad R", 10, 110, 30, 190, 32000, 64, -7, 0, 2)};
    p.instrument_zones.push_back(sf2::zone(26, 0));
    p.instrument_generators.push_back(sf2::gen(sf2::sample_modes, 3));
    p.instrument_generators.push_back(sf2::gen(sf2::sample_id, 1));
    return sf2::soundfont(p);
}

// The test SoundFont with 70 zones crowding keys 40-90 (more than the 64 layers a key may have), each
// with its own attenuation, modulation envelope and LFO values and a modulator, and a second preset
// above program 127.
sf2::Bytes layered_soundfont() {
    sf2::Parts p = sf2::example();
    p.presets.push_back(sf2::preset("Beyond", 200, 0, 2));
    p.preset_zones.push_back(sf2::zone(7, 1));
    p.preset_generators.push_back(sf2::gen(sf2::instrument_id, 0));
    for (int z = 0; z < 70; ++z) {
        p.instrument_zones.push_back(sf2::zone(static_cast<int>(p.instrument_generators.size()),
                                               static_cast<int>(p.instrument_modulators.size())));
        p.instrument_generators.push_back(sf2::range(sf2::key_range, 40 + z % 10, 90));
        p.instrument_generators.push_back(sf2::gen(sf2::attenuation, z * 13 % 70));
        p.instrument_generators.push_back(sf2::gen(sf2::mod_env_decay, z * 100 - 2000));
        p.instrument_generators.push_back(sf2::gen(sf2::key_to_mod_env_hold, z * 30 - 1000));
        p.instrument_generators.push_back(sf2::gen(sf2::mod_lfo_frequency, z * 200 - 8000));
        p.instrument_generators.push_back(sf2::gen(sf2::sample_id, 0));
        p.instrument_modulators.push_back(sf2::modulator(0x0080 + z % 32, z % 61, z * 50 - 1700, z % 3 == 0 ? 0x0502 : 0, z % 3));
    }
    return sf2::soundfont(p);
}
}  // namespace

// Writes every seed file into the folder named by the one argument; 0 when all were written.
int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: smfdump_make_seeds FOLDER\n");
        return 2;
    }
    fs::path listing = fs::path(argv[1]) / "listing";
    fs::path names = fs::path(argv[1]) / "names";
    fs::path soundfont = fs::path(argv[1]) / "soundfont";
    fs::create_directories(listing);
    fs::create_directories(names);
    fs::create_directories(soundfont);
    Bytes song = whole_song();
    bool ok = true;
    // whole files
    ok &= write_seed(listing, "format1.mid", song);
    ok &= write_seed(listing, "format0.mid", header(0, 1, 96) + channel_track());
    ok &= write_seed(listing, "format2.mid", header(2, 2, 0xE728) + system_track() + channel_track());  // time code
    // damaged files
    ok &= write_seed(listing, "cut-in-track.mid", song.substr(0, song.size() / 2));
    ok &= write_seed(listing, "cut-in-header.mid", song.substr(0, 11));  // ends inside the track count
    ok &= write_seed(listing, "more-tracks-declared.mid", header(1, 9, 480) + channel_track());
    ok &= write_seed(listing, "header-length-10.mid", chunk("MThd", 10, be(1, 2) + be(1, 2) + be(96, 2) + "abcd") +
                                                          channel_track());
    ok &= write_seed(listing, "track-length-0.mid", header(1, 1, 96) + chunk("MTrk", 0, event(0, {0x90, 60, 100})));
    ok &= write_seed(listing, "runaway-sysex.mid", header(0, 1, 96) + chunk("MTrk", 9, vlq(0) + bytes({0xF0}) +
                                                                                    vlq(0x0FFFFFFF) + bytes({1, 2})));
    ok &= write_seed(listing, "meta-length-missing.mid", header(0, 1, 96) + chunk("MTrk", 4, bytes({0, 0xFF, 0x01})));
    ok &= write_seed(listing, "unknown-format.mid", header(7, 1, 96) + channel_track());
    ok &= write_seed(listing, "odd-chunk-id.mid", header(1, 1, 96) + raw(" \nXY\0") + be(4, 4) + end_of_track());
    // whole files and calls of the page's entry points
    fs::path web = fs::path(argv[1]) / "web";
    fs::create_directories(web);
    ok &= write_seed(web, "every-call.mid", song + calls({bytes({2, 1, 2, 5}),        // list again from point 1, notes told, stopped after 5
                                                          bytes({3, 14, 58, 14}),     // search "o:"
                                                          bytes({4, 4, 2, 1}),        // a position in 4/4
                                                          bytes({5, 40, 0, 0}),       // a names file of the song's first 40 bytes
                                                          bytes({2, 0, 1, 0}),        // list again from point 0, event lines told
                                                          bytes({9, 1, 0, 0}),        // another name
                                                          bytes({1, 0, 0, 0}),        // list in full
                                                          bytes({6, 2, 0, 3}),        // resume point lookups
                                                          bytes({7, 1, 3, 0}),        // note 3's end and other lookups
                                                          bytes({8, 0, 0, 0}),        // the header's fields
                                                          bytes({0, 0, 200, 2}),      // a new input: the first 200 bytes
                                                          bytes({2, 9, 3, 0}),        // list again from point 9: none now
                                                          bytes({1, 0, 0, 0})}));     // list in full
    ok &= write_seed(web, "time-code.mid", header(2, 2, 0xE728) + system_track() + channel_track() +
                                               calls({bytes({2, 255, 2, 0x80}), bytes({7, 0, 0, 1})}));  // any point, any note
    // names files
    ok &= write_seed(names, "general.txt", "[General MIDI]\r\nAcoustic Grand\r\n\r\nBright Acoustic\r\n");
    ok &= write_seed(names, "long-line.txt", "abcdefghijklmnopqrstuvwxyz012_45678\nnext\n");
    ok &= write_seed(names, "odd-bytes.txt", raw("Fl\0ute\n\0hidden\n100% %s\tx\x1B\x7F\n\xFFz\x1Alast"));
    // SoundFonts
    sf2::Bytes font = sf2::soundfont(sf2::example());
    ok &= write_seed(soundfont, "example.sf2", font);
    ok &= write_seed(soundfont, "example.sf3", compressed_soundfont());
    ok &= write_seed(soundfont, "stereo.sf2", stereo_soundfont());
    ok &= write_seed(soundfont, "layered.sf2", layered_soundfont());
    ok &= write_seed(soundfont, "cut-in-pdta.sf2", font.substr(0, font.size() - 60));
    ok &= write_seed(soundfont, "phdr-length-lies.sf2", sf2::Bytes(font).replace(402, 4, sf2::le(1000, 4)));
    return ok ? 0 : 1;
}
