// Names that two realms must spell alike: the audio worklet's processors, registered by the audio
// side's entry and made by the page's sound. The messages themselves are written out at the top of
// the files that take them (the listing worker's main.js, the SoundFont worker's main.js, the audio
// side's synth.js and engine.js) and in web/README.md.

export const synthProcessor = 'smfdump-synth';    // the synthesizer alone
export const playerProcessor = 'smfdump-player';  // the synthesizer with the player's engine
