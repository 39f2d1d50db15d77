// Writes the sample MIDI file shipped with the program, from readable bytes.
// Usage: make_samples <output.mid>
#include <cstdio>

#include "support/smf_builder.h"

using namespace smf;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_samples <output.mid>\n", stderr);
        return 2;
    }
    Bytes conductor = meta(0, 0x03, "smfdump demo") +                   // sequence name
                      event(0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}) +       // tempo 500000 us per quarter
                      event(0, {0xFF, 0x58, 4, 3, 2, 24, 8}) +            // time 3/4
                      event(0, {0xFF, 0x59, 2, 1, 0}) +                   // key: 1 sharp, major
                      meta(1440, 0x06, "second line") +                   // marker after one bar
                      end_of_track(1440);
    Bytes piano = meta(0, 0x03, "Piano") +                              // track name
                  event(0, {0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7}) +     // General MIDI on
                  event(0, {0xC0, 0}) +                                   // program 0, channel 1
                  event(0, {0xB0, 7, 100}) +                              // channel volume 100
                  event(0, {0xB0, 10, 64}) +                              // pan centre
                  event(0, {0x90, 67, 90}) +                              // G 5 on
                  event(480, {67, 0}) +                                   // running status: G 5, velocity 0
                  event(0, {71, 80}) +                                    // B 5 on
                  event(480, {0x80, 71, 64}) +                            // B 5 off
                  event(0, {0x90, 74, 85}) +                              // D 6 on
                  meta(0, 0x05, "la") +                                   // lyric
                  event(240, {0xE0, 0x00, 0x48}) +                        // pitch bend up a little
                  event(240, {0x80, 74, 64}) +                            // D 6 off
                  event(0, {0xE0, 0x00, 0x40}) +                          // pitch bend centre
                  event(0, {0x91, 43, 70}) +                              // G 3 on, channel 2
                  event(1440, {0x81, 43, 64}) +                           // G 3 off after a bar
                  end_of_track();
    Bytes file = header(1, 2, 480) + track(conductor) + track(piano);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
