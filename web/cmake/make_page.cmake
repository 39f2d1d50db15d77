# Puts the page together into one file: page.html with page.css in its style element, the page's
# bundle in its script element, and as text the page starts its workers and its audio worklet from:
# the compiled module (MODULE), the listing worker's, the SoundFont worker's and the WAV worker's
# bundles, and the audio side's bundle. The page needs nothing beside itself, not even from file://.
# Usage: cmake -DSOURCE=web/page -DBUNDLES=build-web/page_bundles -DMODULE=smfdump_web.js -DOUTPUT=smfdump.html -P make_page.cmake

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
script_text("${MODULE}" module)
script_text("${BUNDLES}/page.js" page_script)
script_text("${BUNDLES}/listing_worker.js" listing_worker)
script_text("${BUNDLES}/soundfont_worker.js" soundfont_worker)
script_text("${BUNDLES}/wav_worker.js" wav_worker)
script_text("${BUNDLES}/audio.js" audio)

# Each mark once, each filled in once: a bundle holding a mark's text can't be filled in again.
set(marks "/* style */" "/* module */" "/* listing worker */" "/* soundfont worker */" "/* wav worker */" "/* audio */" "/* page */")
set(texts style module listing_worker soundfont_worker wav_worker audio page_script)
set(result "")
foreach(mark text IN ZIP_LISTS marks texts)
  string(FIND "${page}" "${mark}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "page.html lacks the mark ${mark}")
  endif()
  string(SUBSTRING "${page}" 0 ${at} before)
  string(LENGTH "${mark}" length)
  math(EXPR after_at "${at} + ${length}")
  string(SUBSTRING "${page}" ${after_at} -1 page)
  string(APPEND result "${before}${${text}}")
endforeach()
string(APPEND result "${page}")
file(WRITE "${OUTPUT}" "${result}")
