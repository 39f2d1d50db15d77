// Builds Standard MIDI File bytes for tests from readable pieces: status bytes in hex, data in
// decimal, chunk lengths filled in unless a test gives its own to damage the file.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace smf {

using Bytes = std::string;  // raw file bytes; std::string only for its easy concatenation

// The given byte values (each 0..255) in order.
inline Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

// v as a variable-length quantity: 7 bits a byte, most significant first, bit 7 set on all but the last.
inline Bytes vlq(std::uint32_t v) {
    Bytes out(1, static_cast<char>(v & 0x7F));
    for (v >>= 7; v != 0; v >>= 7) out.insert(out.begin(), static_cast<char>(0x80 | (v & 0x7F)));
    return out;
}

// v as width big-endian bytes.
inline Bytes be(std::uint32_t v, int width) {
    Bytes out;
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
    return out;
}

// One event: its delta time, then its bytes.
inline Bytes event(std::uint32_t delta, std::initializer_list<int> values) { return vlq(delta) + bytes(values); }

// A meta event whose body is text (or raw bytes), its length filled in.
inline Bytes meta(std::uint32_t delta, int type, const Bytes& body) {
    return vlq(delta) + bytes({0xFF, type}) + vlq(static_cast<std::uint32_t>(body.size())) + body;
}

// The end-of-track meta event.
inline Bytes end_of_track(std::uint32_t delta = 0) { return event(delta, {0xFF, 0x2F, 0}); }

// A chunk with the given identifier, declared length and body.
inline Bytes chunk(const Bytes& id, std::uint32_t length, const Bytes& body) { return id + be(length, 4) + body; }

// A header chunk of the standard six bytes.
inline Bytes header(int format, int tracks, int division) {
    return chunk("MThd", 6, be(static_cast<std::uint32_t>(format), 2) + be(static_cast<std::uint32_t>(tracks), 2) +
                                be(static_cast<std::uint32_t>(division), 2));
}

// A track chunk whose length is that of its events.
inline Bytes track(const Bytes& events) { return chunk("MTrk", static_cast<std::uint32_t>(events.size()), events); }

}  // namespace smf
