// A MIDI channel message packed into one number, as the synthesizer's queue, the player's engine and
// the page's sound pass it on: the status byte in bits 0-7, the first data byte in bits 8-15 and the
// second in bits 16-23 (0 where the message has none). Nothing is masked: the packers give bytes.

// The packed number of a message.
export function packMessage(status, first, second) {
  return status | (first << 8) | (second << 16);
}

// The status byte of a packed message.
export function packedStatus(packed) {
  return packed & 0xff;
}

// Its first data byte, as seven bits.
export function packedFirst(packed) {
  return (packed >> 8) & 0x7f;
}

// Its second data byte, as seven bits.
export function packedSecond(packed) {
  return (packed >> 16) & 0x7f;
}
