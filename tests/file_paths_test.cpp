// The tools' path helpers: a slash separates folders everywhere, and on
// Windows a backslash and a drive's colon do too.
#include <gtest/gtest.h>

#include <string>

#include "tools/file_paths.h"

namespace {

struct PathCase {
    const char* path;
    const char* baseName;
    const char* asPdf;
};

#if defined(_WIN32)
const bool windowsPaths = true;
#else
const bool windowsPaths = false;
#endif

TEST(FilePaths, BaseNameAndExtensionFollowTheSeparators)
{
    const PathCase common[] = {
        {"job.PDB", "job", "job.pdf"},
        {"x/y/job.PDB", "job", "x/y/job.pdf"},
        {"x.d/job", "job", "x.d/job.pdf"},
        {"x/.hidden", ".hidden", "x/.hidden.pdf"},
        {"My Job.v2.PDB", "My Job.v2", "My Job.v2.pdf"},
    };
    // Windows: the folders and the drive go; elsewhere they are part of the name.
    const PathCase windows[] = {
        {"C:\\x.d\\job.PDB", "job", "C:\\x.d\\job.pdf"},
        {"C:job.PDB", "job", "C:job.pdf"},
        {"a\\b.c/d\\e", "e", "a\\b.c/d\\e.pdf"},
    };
    const PathCase unix[] = {
        {"C:\\x.d\\job.PDB", "C:\\x.d\\job", "C:\\x.d\\job.pdf"},
        {"C:job.PDB", "C:job", "C:job.pdf"},
        {"a\\b.c/d\\e", "d\\e", "a\\b.c/d\\e.pdf"},
    };
    std::vector<PathCase> cases(std::begin(common), std::end(common));
    cases.insert(cases.end(), windowsPaths ? std::begin(windows) : std::begin(unix),
                 windowsPaths ? std::end(windows) : std::end(unix));
    for (const PathCase& path : cases) {
        char name[64];
        char pdf[64];
        ASSERT_EQ(pathBaseName(path.path, name, sizeof name), 0) << path.path;
        ASSERT_EQ(pathWithExtension(path.path, ".pdf", pdf, sizeof pdf), 0) << path.path;
        EXPECT_EQ(std::string(name), path.baseName) << path.path;
        EXPECT_EQ(std::string(pdf), path.asPdf) << path.path;
    }
}

TEST(FilePaths, FolderGetsOneSeparator)
{
    char path[64];
    ASSERT_EQ(pathInFolder("out", "p.png", path, sizeof path), 0);
    EXPECT_STREQ(path, "out/p.png");
    ASSERT_EQ(pathInFolder("out/", "p.png", path, sizeof path), 0);
    EXPECT_STREQ(path, "out/p.png");
    ASSERT_EQ(pathInFolder("C:", "p.png", path, sizeof path), 0);
    EXPECT_STREQ(path, windowsPaths ? "C:p.png" : "C:/p.png");
}

TEST(FilePaths, WhatDoesNotFitIsRefused)
{
    char small[8];
    EXPECT_EQ(pathBaseName("x/abcdefgh.PDB", small, sizeof small), -1);
    EXPECT_EQ(pathWithExtension("abcd.PDB", ".pdf", small, sizeof small), -1);
    EXPECT_EQ(pathInFolder("abc", "defg", small, sizeof small), -1);
    EXPECT_EQ(pathInFolder("abc", "def", small, sizeof small), 0);
}

}  // namespace
