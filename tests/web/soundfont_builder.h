// Builds SoundFont bytes for tests from readable pieces: one record a line, numbers in decimal, chunk
// lengths and terminal records filled in, unless a test damages the result on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sf2 {

using Bytes = std::string;  // raw file bytes; std::string only for its easy concatenation

// v as width little-endian bytes (a negative v as its two's complement).
inline Bytes le(std::int64_t v, int width) {
    Bytes out;
    for (int i = 0; i < width; ++i) out.push_back(static_cast<char>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xFF));
    return out;
}

// A chunk whose declared length is the given one, whatever its body holds.
inline Bytes chunk_claiming(const Bytes& id, std::uint32_t length, const Bytes& body) {
    return id + le(length, 4) + body + (body.size() % 2 == 1 ? Bytes(1, '\0') : Bytes());
}
// A chunk with its length filled in, and the zero byte that pads an odd length.
inline Bytes chunk(const Bytes& id, const Bytes& body) { return chunk_claiming(id, static_cast<std::uint32_t>(body.size()), body); }
// A LIST chunk of the given type holding the given chunks.
inline Bytes list(const Bytes& type, const Bytes& chunks) { return chunk("LIST", type + chunks); }
// A name field of 20 bytes, zero-padded.
inline Bytes name20(const Bytes& name) { return (name + Bytes(20, '\0')).substr(0, 20); }

// ---- records, one a line in a test ----
// Preset header: name, program, bank, index of its first zone (library, genre, morphology are 0).
inline Bytes preset(const Bytes& name, int program, int bank, int first_zone) {
    return name20(name) + le(program, 2) + le(bank, 2) + le(first_zone, 2) + le(0, 4) + le(0, 4) + le(0, 4);
}
// Zone: index of its first generator and of its first modulator.
inline Bytes zone(int first_generator, int first_modulator) { return le(first_generator, 2) + le(first_modulator, 2); }
// Generator with a 16-bit amount.
inline Bytes gen(int generator, int amount) { return le(generator, 2) + le(amount, 2); }
// Generator with a range: low byte, high byte.
inline Bytes range(int generator, int low, int high) { return le(generator, 2) + le(low, 1) + le(high, 1); }
// Modulator: source, destination generator, amount, amount source, transform.
inline Bytes modulator(int source, int destination, int amount, int amount_source, int transform) {
    return le(source, 2) + le(destination, 2) + le(amount, 2) + le(amount_source, 2) + le(transform, 2);
}
// Instrument: name, index of its first zone.
inline Bytes instrument(const Bytes& name, int first_zone) { return name20(name) + le(first_zone, 2); }
// Sample header: name, start, end, loop start, loop end (frames in the sample data; bytes for start and
// end of a compressed sample, whose loop counts frames from its own start), rate, original pitch,
// pitch correction, linked sample, type.
inline Bytes sample(const Bytes& name, std::uint32_t start, std::uint32_t end, std::uint32_t loop_start, std::uint32_t loop_end,
                    std::uint32_t rate, int pitch, int correction, int link, int type) {
    return name20(name) + le(start, 4) + le(end, 4) + le(loop_start, 4) + le(loop_end, 4) + le(rate, 4) + le(pitch, 1) +
           le(correction, 1) + le(link, 2) + le(type, 2);
}
// count frames of 16-bit PCM counting up from first (a ramp, so that frames are told apart).
inline Bytes pcm_ramp(int first, int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) out += le(first + i, 2);
    return out;
}
// An Ogg page holding no packet data: capture pattern, version 0, header type (2 first, 4 last),
// granule position, serial number, sequence number, checksum (not checked by the reader), no segments.
inline Bytes ogg_page(int type, std::int64_t granule, int sequence) {
    return Bytes("OggS") + le(0, 1) + le(type, 1) + le(granule, 8) + le(4321, 4) + le(sequence, 4) + le(0, 4) + le(0, 1);
}

// ---- generator numbers ----
enum Generator_number : int {
    start_offset = 0, end_offset = 1, loop_start_offset = 2, loop_end_offset = 3, start_coarse_offset = 4,
    mod_lfo_to_pitch = 5, vib_lfo_to_pitch = 6, mod_env_to_pitch = 7, filter_cutoff = 8, filter_q = 9,
    mod_lfo_to_filter = 10, mod_env_to_filter = 11, end_coarse_offset = 12, mod_lfo_to_volume = 13,
    chorus_send = 15, reverb_send = 16, pan = 17, mod_lfo_delay = 21, mod_lfo_frequency = 22, vib_lfo_delay = 23,
    vib_lfo_frequency = 24, mod_env_delay = 25, mod_env_attack = 26, mod_env_hold = 27, mod_env_decay = 28,
    mod_env_sustain = 29, mod_env_release = 30, key_to_mod_env_hold = 31, key_to_mod_env_decay = 32, delay = 33, attack = 34, hold = 35,
    decay = 36, sustain = 37, release = 38, key_to_hold = 39, key_to_decay = 40, instrument_id = 41,
    key_range = 43, velocity_range = 44, loop_start_coarse_offset = 45, attenuation = 48,
    loop_end_coarse_offset = 50, coarse_tune = 51, fine_tune = 52, sample_id = 53, sample_modes = 54,
    scale_tuning = 56, exclusive_class = 57, root_key = 58
};

// The records of each part of a SoundFont, terminal records left out: soundfont() adds them.
struct Parts {
    Bytes version = le(2, 2) + le(4, 2);  // ifil: major, minor
    Bytes name;                           // INAM, written with its terminating zero
    Bytes sample_data;                    // the body of smpl
    std::vector<Bytes> presets, preset_zones, preset_modulators, preset_generators;
    std::vector<Bytes> instruments, instrument_zones, instrument_modulators, instrument_generators;
    std::vector<Bytes> samples;
};

// The records joined, then the terminal record.
inline Bytes joined(const std::vector<Bytes>& records, const Bytes& terminal) {
    Bytes out;
    for (const Bytes& r : records) out += r;
    return out + terminal;
}

// LIST INFO: the version and the name.
inline Bytes info_list(const Parts& p) { return list("INFO", chunk("ifil", p.version) + chunk("INAM", p.name + Bytes(1, '\0'))); }
// LIST sdta: the sample data.
inline Bytes sdta_list(const Parts& p) { return list("sdta", chunk("smpl", p.sample_data)); }
// The nine chunks of LIST pdta, each with its terminal record, in the standard's order.
inline std::vector<Bytes> pdta_chunks(const Parts& p) {
    auto count = [](const std::vector<Bytes>& v) { return static_cast<int>(v.size()); };
    return {
        chunk("phdr", joined(p.presets, preset("EOP", 0, 0, count(p.preset_zones)))),
        chunk("pbag", joined(p.preset_zones, zone(count(p.preset_generators), count(p.preset_modulators)))),
        chunk("pmod", joined(p.preset_modulators, modulator(0, 0, 0, 0, 0))),
        chunk("pgen", joined(p.preset_generators, gen(0, 0))),
        chunk("inst", joined(p.instruments, instrument("EOI", count(p.instrument_zones)))),
        chunk("ibag", joined(p.instrument_zones, zone(count(p.instrument_generators), count(p.instrument_modulators)))),
        chunk("imod", joined(p.instrument_modulators, modulator(0, 0, 0, 0, 0))),
        chunk("igen", joined(p.instrument_generators, gen(0, 0))),
        chunk("shdr", joined(p.samples, sample("EOS", 0, 0, 0, 0, 0, 0, 0, 0, 0))),
    };
}
// LIST pdta.
inline Bytes pdta_list(const Parts& p) { return list("pdta", joined(pdta_chunks(p), "")); }
// The RIFF sfbk chunk around the given lists.
inline Bytes riff(const Bytes& lists) { return chunk("RIFF", "sfbk" + lists); }
// The whole file.
inline Bytes soundfont(const Parts& p) { return riff(info_list(p) + sdta_list(p) + pdta_list(p)); }

// A small SoundFont with every kind of part, and a distinct value in every field: one preset with a
// global zone, one instrument with a global zone, one looped sample.
inline Parts example() {
    Parts p;
    p.name = "Test Pads";
    // 10 frames before the sample, the sample's 100, then the 46 zero frames the standard asks for
    p.sample_data = pcm_ramp(-10, 10) + pcm_ramp(1000, 100) + Bytes(2 * 46, '\0');
    p.presets = {preset("Warm Pad", 17, 3, 0)};
    p.preset_zones = {
        zone(0, 0),  // global: generators 0-1
        zone(2, 0),  // plays the instrument: generators 2-6, modulator 0
    };
    p.preset_modulators = {modulator(0x0502, 48, 960, 0, 0)};  // velocity to attenuation
    p.preset_generators = {
        gen(pan, 100),               // global: added to every zone's pan
        gen(attenuation, 20),        // global: 2 dB more
        range(key_range, 36, 96),
        range(velocity_range, 5, 120),
        gen(coarse_tune, 2),
        gen(decay, 1200),            // doubles the instrument's decay
        gen(instrument_id, 0),
    };
    p.instruments = {instrument("Pad Layer", 0)};
    p.instrument_zones = {
        zone(0, 0),  // global: generators 0-5
        zone(6, 0),  // the sample: generators 6-25, modulator 0
    };
    p.instrument_modulators = {modulator(0x0081, 8, -2400, 0, 0)};  // CC 1 (modulation wheel) to filter cutoff
    p.instrument_generators = {
        gen(delay, -2400),               // global: 0.25 s
        gen(attack, -1200),              // global: 0.5 s
        gen(release, 3600),              // global: 8 s
        gen(filter_cutoff, 8100),        // global: 880 Hz
        gen(filter_q, 30),               // global: 3 dB
        gen(pan, -300),                  // global, overridden by the zone's own
        range(key_range, 30, 80),
        range(velocity_range, 20, 110),
        gen(pan, -200),
        gen(hold, 0),                    // 1 s
        gen(decay, 1200),                // 2 s
        gen(sustain, 250),               // 25 dB down
        gen(key_to_hold, 50),
        gen(key_to_decay, -40),
        gen(attenuation, 15),
        gen(coarse_tune, -5),
        gen(fine_tune, 7),
        gen(scale_tuning, 90),
        gen(sample_modes, 1),            // loops
        gen(exclusive_class, 4),
        gen(root_key, 62),               // instead of the sample's 64
        gen(start_offset, 3),
        gen(end_offset, -4),
        gen(loop_start_offset, 5),
        gen(loop_end_offset, -6),
        gen(sample_id, 0),
    };
    p.samples = {sample("Pad C4", 10, 110, 30, 90, 32000, 64, -7, 0, 1)};  // mono, looped at frames 20-80 of its own
    return p;
}

}  // namespace sf2
