// The page's entry points for names: the listed file's name as the page gives it, and the names file
// the listing takes its program names from (the user's, or the General MIDI names built in). Each
// function here is called from JavaScript.
#include <emscripten.h>

#include <algorithm>
#include <cstdint>

#include "listed_file.h"
#include "listing/name_tables.h"
#include "module_memory.h"

extern const unsigned char builtin_names_file[];   // the General MIDI names file shipped with the program (made by the build)
extern const std::size_t builtin_names_file_size;  // its size in bytes

extern "C" {

// Makes room for the file's name (size bytes of UTF-8 and the terminator) and returns where it goes;
// null when the memory can't hold it.
EMSCRIPTEN_KEEPALIVE char* web_name(std::size_t size) {
    release(listed_file_name);
    if (size == SIZE_MAX || !make_room(listed_file_name, size + 1)) return nullptr;
    listed_file_name.assign(size + 1, '\0');
    return listed_file_name.data();
}

// Makes room for a names file of size bytes and returns where the page is to put them; null (and the
// built-in names in use) when the memory can't hold them.
EMSCRIPTEN_KEEPALIVE unsigned char* web_names_file(std::size_t size) {
    release(names_file_bytes);
    if (!make_room(names_file_bytes, std::max<std::size_t>(size, 1))) {
        names_file_bytes.assign(builtin_names_file, builtin_names_file + builtin_names_file_size);
        return nullptr;
    }
    names_file_bytes.assign(size, 0);
    return names_file_bytes.data();
}

// Goes back to the built-in General MIDI names.
EMSCRIPTEN_KEEPALIVE void web_builtin_names() {
    names_file_bytes.assign(builtin_names_file, builtin_names_file + builtin_names_file_size);
}

// The name of program p (0-127) as the last full listing shows it (from the names file it was listed
// with), NUL-terminated; empty for none.
EMSCRIPTEN_KEEPALIVE const char* web_program_name(std::uint32_t p) {
    use_listing_names();
    return program_name(static_cast<std::int32_t>(std::min<std::uint32_t>(p, 128)));
}
}
