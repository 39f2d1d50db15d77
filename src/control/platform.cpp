#include "control/platform.h"

#include <cstring>
#include <cwchar>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
const char path_separator = '\\';
const char names_file_name[] = "\\initial.txt";
const wchar_t names_file_name_wide[] = L"\\initial.txt";
#else
const char path_separator = '/';
const char names_file_name[] = "/initial.txt";
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

std::FILE* open_midi_file(const wchar_t* name) { return _wfopen(name, L"rb"); }

std::FILE* open_names_file(const wchar_t* path) { return _wfopen(path, L"rb"); }

bool console_input() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

int read_console_char() {
    wchar_t c = 0;
    DWORD got = 0;
    // the console hands over a whole line once Enter is pressed, then one character per call
    if (ReadConsoleW(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) == 0 || got != 1) return EOF;
    if (c == 0x1A) return EOF;  // Ctrl+Z ends console input, as it does for the C library
    return c;
}

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

void say_wide(const wchar_t* text) {
    std::fflush(stdout);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(out, &mode) != 0) {
        DWORD written;
        WriteConsoleW(out, text, static_cast<DWORD>(std::wcslen(text)), &written, nullptr);
        return;
    }
    // elsewhere, in pieces: at most 3 bytes per character, a surrogate pair never split
    constexpr int piece = 256;
    while (*text != L'\0') {
        wchar_t part[piece + 1];
        int length = 0;
        while (length < piece && text[length] != L'\0') {
            part[length] = text[length];
            ++length;
        }
        if (length == piece && part[length - 1] >= 0xD800 && part[length - 1] <= 0xDBFF) --length;
        part[length] = L'\0';
        char ansi[3 * piece + 1];
        ansi_from_wide(part, ansi, sizeof ansi);
        std::fputs(ansi, stdout);
        text += length;
    }
    std::fflush(stdout);
}
#endif
