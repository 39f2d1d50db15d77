// The two example songs whose listings are known line for line: the bytes and the listings.
#pragma once

#include <string>

#include "support/smf_builder.h"

namespace examples {

// Format 0, one track, division 480: a sequence name, 4/4, one note with its own note-off.
inline smf::Bytes format0_song() {
    using namespace smf;
    return header(0, 1, 480) + track(meta(0, 0x03, "Piano") +                // sequence name
                                     event(0, {0xFF, 0x58, 4, 4, 2, 24, 8}) +  // time 4/4, 24 clocks, 8 32nds
                                     event(0, {0x90, 60, 100}) +               // note on C 5
                                     event(480, {0x80, 60, 64}) +              // note off, own status
                                     end_of_track());
}

// The whole listing of format0_song typed in as song.mid.
inline const std::string format0_listing =
    "dump of song.mid\n"
    "\n"
    "T..time  c..channel  o..note on  x..note off  cc..control change  pc..program change\n"
    "\n"
    "\n"
    "\n"
    "----------------------\n"
    "header chunk.length(default 6):6 format:0\n"
    "track max:1\n"
    "division:delta time: 480\n"
    "\n"
    "----------------------\n"
    "track:1\n"
    "track chunk.data length:30\n"
    "\n"
    "  1T:0:0:0\t .:sequence name /Piano/\n"
    "  1T:0:0:0\t .:time 4/4 metronome 24:8\n"
    "  1T:0:0:0\t o: c:1 \tC_5 ...100\n"
    "  1T:0:1:0\t x: c:1 \tC_5 ...64\n"
    "  1T:0:1:0\t .:end of track//\n"
    "----------------------\n"
    "end of song.mid\n";

// Format 1, one track, division 480, with every kind of channel and system event; listed with
// program 0 named "Acoustic Grand".
inline smf::Bytes format1_song() {
    using namespace smf;
    return header(1, 1, 480) + track(event(0, {0xFF, 0x58, 4, 4, 2, 24, 8}) +  // time 4/4
                                     event(0, {0xC0, 0}) +                      // program 0, channel 1
                                     event(0, {0xB3, 7, 100}) +                 // channel volume, channel 4
                                     event(0, {0xB0, 3, 5}) +                   // controller 3 has no name
                                     event(0, {0x90, 60, 100}) +                // note on C 5
                                     event(240, {64, 90}) +                     // running status: note on E 5
                                     event(240, {0x80, 60, 64}) +               // note off with its own status
                                     event(0, {0xA1, 60, 0x20}) +               // polyphonic pressure, channel 2
                                     event(0, {0xD1, 0x30}) +                   // channel pressure, channel 2
                                     event(1200, {0xE0, 0x00, 0x40}) +          // pitch bend, centre
                                     event(0, {0xF0, 3, 0x7E, 0x7F, 0xF7}) +    // system exclusive of 3 bytes
                                     event(0, {0x50}) +                         // a stray data byte
                                     event(0, {0xF8}) +                         // timing clock: not handled
                                     end_of_track());
}

// The event lines of format1_song.
inline const std::string format1_event_lines =
    "  1T:0:0:0\t .:time 4/4 metronome 24:8\n"
    "  1T:0:0:0\t pc: c:1   0H /Acoustic Grand/\n"
    "  1T:0:0:0\t cc: c:4 ch vol MSB val 100\n"
    "  1T:0:0:0\t cc: c:1  val 5\n"
    "  1T:0:0:0\t o: c:1 \tC_5 ...100\n"
    "  1T:0:0:240\t o: c:1 \tE-5 ...90\n"
    "  1T:0:1:0\t x: c:1 \tC_5 ...64\n"
    "  1T:0:1:0\t poly key press: c:2  3cH  20H \n"
    "  1T:0:1:0\t channel press: c:2  30H \n"
    "  1T:0:3:240\t pitch bend: c:1   0H  40H \n"
    "  1T:0:3:240\t exclusive: 7eH  7fH  f7H \n"
    "  1T:0:3:240\t unknown ex(bad running status):50(hex)\n"
    "  1T:0:3:240\t unknown ex:f8(hex)\n"
    "  1T:0:3:240\t .:end of track//\n";

// The whole listing of format1_song typed in as name.
inline std::string format1_listing(const std::string& name) {
    return "dump of " + name +
           "\n"
           "\n"
           "T..time  c..channel  o..note on  x..note off  cc..control change  pc..program change\n"
           "\n"
           "\n"
           "\n"
           "----------------------\n"
           "header chunk.length(default 6):6 format:1\n"
           "track max:1\n"
           "division:delta time: 480\n"
           "\n"
           "----------------------\n"
           "track:1\n"
           "track chunk.data length:58\n"
           "\n" +
           format1_event_lines +
           "----------------------\n"
           "end of " +
           name + "\n";
}

}  // namespace examples
