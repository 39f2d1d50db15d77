# Puts the page together into one file: page.html with page.css in its style element, roll_view.js
# and the page's scripts (PAGE_SCRIPTS, in order) in its script element, the worker (the compiled
# module MODULE, roll_view.js, roll.js, worker.js and soundfont_worker.js) as text that the page
# starts from a blob, and the synthesizer (synth.js) as text that sound.js loads as an audio worklet,
# so that the page needs nothing beside itself, not even from file://.
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

file(READ "${SOURCE}/page.html" page)
file(READ "${SOURCE}/page.css" style)
set(script "")
foreach(part ${PAGE_SCRIPTS})
  script_text("${SOURCE}/${part}" text)
  string(APPEND script "${text}\n")
endforeach()
script_text("${MODULE}" module)
script_text("${SOURCE}/roll_view.js" geometry)
script_text("${SOURCE}/roll.js" roll)
script_text("${SOURCE}/worker.js" worker)
script_text("${SOURCE}/soundfont_worker.js" soundfont_worker)
script_text("${SOURCE}/synth.js" synth)

foreach(mark "/* style */" "/* page script */" "/* worker script */" "/* synth script */")
  string(FIND "${page}" "${mark}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "page.html lacks the mark ${mark}")
  endif()
endforeach()
string(REPLACE "/* style */" "${style}" page "${page}")
string(REPLACE "/* worker script */" "${module}\n${geometry}\n${roll}\n${worker}\n${soundfont_worker}" page "${page}")
string(REPLACE "/* synth script */" "${synth}" page "${page}")
string(REPLACE "/* page script */" "${geometry}\n${script}" page "${page}")
file(WRITE "${OUTPUT}" "${page}")
