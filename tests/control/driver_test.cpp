#include <gtest/gtest.h>

#include <cstring>

#include "control/driver.h"
#include "control/platform.h"

TEST(ProgramDirectory, CutsAtTheLastSeparator) {
    char path[64];
    std::snprintf(path, sizeof path, "%cusr%clocal%csmfdump", path_separator, path_separator, path_separator);
    EXPECT_TRUE(program_directory(path));
    char expected[64];
    std::snprintf(expected, sizeof expected, "%cusr%clocal", path_separator, path_separator);
    EXPECT_STREQ(path, expected);
}

TEST(ProgramDirectory, NoSeparatorLeavesNoDirectory) {
    char path[] = "smfdump";
    EXPECT_FALSE(program_directory(path));
    EXPECT_STREQ(path, "");
}

TEST(ProgramDirectory, ProgramInTheRootKeepsAnEmptyDirectoryWithItsSeparator) {
    char path[] = "?smfdump";
    path[0] = path_separator;
    EXPECT_TRUE(program_directory(path));
    EXPECT_STREQ(path, "");
}

TEST(ExecutablePath, IsAFullPathThatFitsOrNothing) {
    char path[4096];
    ASSERT_TRUE(executable_path(path, sizeof path));
    EXPECT_NE(std::strrchr(path, path_separator), nullptr);
    char tiny[4];
    EXPECT_FALSE(executable_path(tiny, sizeof tiny));
    EXPECT_STREQ(tiny, "");
}
