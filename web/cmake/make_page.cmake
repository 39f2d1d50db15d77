# Puts the page together into one file: page.html with page.css in its style element, roll_view.js
# and the page's scripts (PAGE_SCRIPTS, in order) in its script element, the worker (the compiled
# module MODULE, roll_view.js, roll.js, worker.js and soundfont_worker.js) as text that the page
# starts from a blob, and the synthesizer (synth.js) and the player's sequencer and engine
# (sequencer.js, play_engine.js) as text that the page makes its audio worklet and its Web MIDI worker
# from, so that the page needs nothing beside itself, not even from file://.
# Usage: cmake -DSOURCE=web -DMODULE=smfdump_web.js -DOUTPUT=smfdump.html "-DPAGE_SCRIPTS=files.js;page.js" -P make_page.cmake

# Text to go inside a script element: the parser would take "</script" as its end and "<!--" as the
# start of an escape, so both are written with a backslash that JavaScript strings and regular
# expressions read through; anywhere else in the code they can't stand.
function(script_text file out)
  file(READ "${file}" text)
  string(REPLACE "</script" "<\\/script" text "${text}")
  string(REPLACE "<!--" "<\\!--" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The same for the page's own JavaScript, less what only its readers need: lines of nothing but a
# comment, and the spaces that indent each line (no string of these sources spans lines), so that the
# page stays within its size.
function(source_text file out)
  script_text("${file}" text)
  string(REGEX REPLACE "\n[ \t]*//[^\n]*" "" text "\n${text}")
  string(REGEX REPLACE "\n[ \t]+" "\n" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(READ "${SOURCE}/page.html" page)
file(READ "${SOURCE}/page.css" style)
set(script "")
foreach(part ${PAGE_SCRIPTS})
  source_text("${SOURCE}/${part}" text)
  string(APPEND script "${text}\n")
endforeach()
script_text("${MODULE}" module)
source_text("${SOURCE}/roll_view.js" geometry)
source_text("${SOURCE}/roll.js" roll)
source_text("${SOURCE}/worker.js" worker)
source_text("${SOURCE}/soundfont_worker.js" soundfont_worker)
source_text("${SOURCE}/synth.js" synth)
source_text("${SOURCE}/sequencer.js" sequencer)
source_text("${SOURCE}/play_engine.js" engine)

foreach(mark "/* style */" "/* page script */" "/* worker script */" "/* synth script */" "/* sequencer source */" "/* engine source */")
  string(FIND "${page}" "${mark}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "page.html lacks the mark ${mark}")
  endif()
endforeach()
string(REPLACE "/* style */" "${style}" page "${page}")
string(REPLACE "/* worker script */" "${module}\n${geometry}\n${roll}\n${worker}\n${soundfont_worker}" page "${page}")
string(REPLACE "/* synth script */" "${synth}" page "${page}")
string(REPLACE "/* sequencer source */" "${sequencer}" page "${page}")
string(REPLACE "/* engine source */" "${engine}" page "${page}")
string(REPLACE "/* page script */" "${geometry}\n${script}" page "${page}")
file(WRITE "${OUTPUT}" "${page}")
