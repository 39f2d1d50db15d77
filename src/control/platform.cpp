#include "control/platform.h"

#include <cstring>
#include <cwchar>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "control/driver.h"  // the sizes of the names whose wide forms are kept here
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
const char path_separator = '\\';
const path_char names_file_name[] = L"\\initial.txt";
wchar_t program_path_wide[program_path_size] = L"";
wchar_t input_name_wide[input_name_size] = L"";
#else
const char path_separator = '/';
const path_char names_file_name[] = "/initial.txt";
#endif

bool executable_path(char* out, std::size_t size) {
    out[0] = '\0';
    if (size < 2) return false;
#ifdef _WIN32
    DWORD got = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
    if (got == 0 || got >= size) {
        out[0] = '\0';
        return false;
    }
#else
    ssize_t got = readlink("/proc/self/exe", out, size - 1);
    if (got <= 0 || static_cast<std::size_t>(got) >= size - 1) {  // a full buffer may hold a cut path
        out[0] = '\0';
        return false;
    }
    out[got] = '\0';
#endif
    return true;
}

std::FILE* open_midi_file(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
#ifndef _WIN32
    struct stat status;
    if (file != nullptr && fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
        std::fclose(file);  // a directory opens here but holds no bytes to list
        return nullptr;
    }
#endif
    return file;
}

std::FILE* open_names_file(const char* path) {
    return std::fopen(path, "rb");  // CR and 0x1A are handled by the loader alike on every platform
}

std::FILE* create_dump_file() { return std::fopen("default.txt", "w"); }

#ifdef _WIN32
namespace {
// The identity of the open file behind handle (volume serial number and file index); false when unknown.
bool file_identity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) != 0;
}
}  // namespace

bool same_file_as_dump(std::FILE* input) {
    BY_HANDLE_FILE_INFORMATION in;
    if (!file_identity(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input))), in)) return false;
    // opened the way creating it would reach it (links followed), sharing everything, changing nothing
    HANDLE dump = CreateFileW(L"default.txt", FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dump == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION out;
    bool known = file_identity(dump, out);
    CloseHandle(dump);
    return known && in.dwVolumeSerialNumber == out.dwVolumeSerialNumber && in.nFileIndexHigh == out.nFileIndexHigh &&
           in.nFileIndexLow == out.nFileIndexLow;
}
#else
bool same_file_as_dump(std::FILE* input) {
    struct stat in;
    struct stat out;
    // stat follows links as creating default.txt would; a missing default.txt is no other file
    if (fstat(fileno(input), &in) != 0 || stat("default.txt", &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}
#endif

#ifdef _WIN32
bool executable_path(wchar_t* out, std::size_t size) {
    out[0] = L'\0';
    if (size < 2) return false;
    DWORD got = GetModuleFileNameW(nullptr, out, static_cast<DWORD>(size));
    if (got == 0 || got >= size) {  // a full buffer holds a cut path
        out[0] = L'\0';
        return false;
    }
    return true;
}

std::FILE* open_names_file(const wchar_t* path) { return _wfopen(path, L"rb"); }

namespace {
// True when standard input is a console, whose typed text is then read as wide characters.
bool console_input() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// The next character typed at the console (a UTF-16 unit); EOF at the end of input or at Ctrl+Z.
int read_console_char() {
    wchar_t c = 0;
    DWORD got = 0;
    // the console hands over a whole line once Enter is pressed, then one character per call
    if (ReadConsoleW(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) == 0 || got != 1) return EOF;
    if (c == 0x1A) return EOF;  // Ctrl+Z ends console input, as it does for the C library
    return c;
}

// Puts text into out in the ANSI page ('?' for what it can't hold), cut at a whole character to fit
// size bytes with the terminator.
void ansi_from_wide(const wchar_t* text, char* out, std::size_t size) {
    out[0] = '\0';
    if (size < 1) return;
    // a UTF-8 ANSI page takes neither a replacement character nor the best-fit flag
    bool utf8 = GetACP() == CP_UTF8;
    DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* unknown = utf8 ? nullptr : "?";
    int count = static_cast<int>(std::wcslen(text));
    while (count > 0) {
        int got = WideCharToMultiByte(CP_ACP, flags, text, count, out, static_cast<int>(size) - 1, unknown, nullptr);
        if (got > 0) {
            out[got] = '\0';
            return;
        }
        --count;  // too long for out: one character less, and never half of a surrogate pair
        if (count > 0 && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF) --count;
    }
    out[0] = '\0';
}
}  // namespace

void say_path(const wchar_t* path) {
    std::fflush(stdout);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(out, &mode) != 0) {
        DWORD written;
        WriteConsoleW(out, path, static_cast<DWORD>(std::wcslen(path)), &written, nullptr);
        return;
    }
    // elsewhere, in pieces: at most 3 bytes per character, a surrogate pair never split
    constexpr int piece = 256;
    while (*path != L'\0') {
        wchar_t part[piece + 1];
        int length = 0;
        while (length < piece && path[length] != L'\0') {
            part[length] = path[length];
            ++length;
        }
        if (length == piece && part[length - 1] >= 0xD800 && part[length - 1] <= 0xDBFF) --length;
        part[length] = L'\0';
        char ansi[3 * piece + 1];
        ansi_from_wide(part, ansi, sizeof ansi);
        std::fputs(ansi, stdout);
        path += length;
    }
    std::fflush(stdout);
}

const wchar_t* keep_program_path(const wchar_t* folder, const wchar_t* name, char* program_path, std::size_t size) {
    if (std::wcslen(folder) + std::wcslen(name) >= program_path_size) return nullptr;  // counted in characters
    std::wcscpy(program_path_wide, folder);
    std::wcscat(program_path_wide, name);
    ansi_from_wide(program_path_wide, program_path, size);
    return program_path_wide;
}

bool typed_wide() { return console_input(); }

int next_typed_char(bool wide) { return wide ? read_console_char() : std::getchar(); }

void keep_typed_char(bool wide, char* name, int at, int c) {
    if (wide) {
        input_name_wide[at] = static_cast<wchar_t>(c);
    } else {
        name[at] = static_cast<char>(c);
    }
}

void finish_typed_name(bool wide, char* name, std::size_t size) {
    if (wide) ansi_from_wide(input_name_wide, name, size);
}

void say_typed_name(const char* name) {
    if (input_name_wide[0] != L'\0') {
        say_path(input_name_wide);
    } else {
        std::fputs(name, stdout);
    }
}

std::FILE* open_typed_name(const char* name) {
    if (input_name_wide[0] != L'\0') return _wfopen(input_name_wide, L"rb");
    return open_midi_file(name);
}

void wait_on_own_console() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(in, &mode) == 0) return;  // input from a pipe or a file: a script started the program
    DWORD processes[2];
    // the count of processes on the console: 1 when nothing else (a shell) keeps its window open
    if (GetConsoleProcessList(processes, 2) != 1) return;
    std::fflush(stdout);
    // A message such as "can't open x." leaves its line open: that line is ended before the empty line.
    // The cursor tells, as the user sees it: a line written to the window's edge has already wrapped.
    CONSOLE_SCREEN_BUFFER_INFO screen;
    bool line_open = GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &screen) == 0 || screen.dwCursorPosition.X != 0;
    std::fputs(line_open ? "\n\nPress Enter to close." : "\nPress Enter to close.", stdout);
    std::fflush(stdout);
    // Key presses are read one by one: a read by lines would at once hand over what is left of the line
    // the name was typed on (its line end at least). Keys pressed before the question showed don't count.
    FlushConsoleInputBuffer(in);
    for (;;) {
        INPUT_RECORD record;
        DWORD got = 0;
        if (ReadConsoleInputW(in, &record, 1, &got) == 0 || got != 1) break;  // console input has ended
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown != 0 &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
            break;
        }
    }
    std::fputs("\n", stdout);  // as a typed Enter would show, should the window stay
    std::fflush(stdout);
}

void reset_platform_state() {
    program_path_wide[0] = L'\0';
    input_name_wide[0] = L'\0';
}
#else
void say_path(const char* path) { std::fputs(path, stdout); }

const char* keep_program_path(const char* folder, const char* name, char* program_path, std::size_t size) {
    if (std::strlen(folder) + std::strlen(name) >= size) return nullptr;
    std::strcpy(program_path, folder);  // NOLINT(clang-analyzer-security.insecureAPI.strcpy): both lengths were checked above
    std::strcat(program_path, name);    // NOLINT(clang-analyzer-security.insecureAPI.strcpy): both lengths were checked above
    return program_path;
}

bool typed_wide() { return false; }

int next_typed_char(bool /*wide*/) { return std::getchar(); }

void keep_typed_char(bool /*wide*/, char* name, int at, int c) { name[at] = static_cast<char>(c); }

void finish_typed_name(bool /*wide*/, char* /*name*/, std::size_t /*size*/) {}

void say_typed_name(const char* name) { std::fputs(name, stdout); }

std::FILE* open_typed_name(const char* name) { return open_midi_file(name); }

void wait_on_own_console() {}

void reset_platform_state() {}
#endif
