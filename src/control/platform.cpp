#include "control/platform.h"

#include <cstring>

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
