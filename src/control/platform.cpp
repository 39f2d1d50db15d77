#include "control/platform.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
const char path_separator = '\\';
const char names_file_name[] = "\\initial.txt";
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

std::FILE* create_dump_file() { return std::fopen("default.txt", "w"); }
