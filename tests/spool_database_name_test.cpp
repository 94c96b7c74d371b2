// Which archive members are taken for the spool database: file names as
// HotSync, CloudpilotEmu and pilot-xfer write them, the database's own name,
// and members that are no Palm database at all.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "spool/spool_database_name.h"
#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

struct NameCase {
    const char* name;
    bool spool;
};

TEST(SpoolDatabaseName, FileNamesAsSyncToolsAndEmulatorsWriteThem)
{
    const NameCase cases[] = {
        {"Fernquill_Spool_File.PDB", true},         // HotSync
        {"Fernquill Spool File.pdb", true},         // CloudpilotEmu
        {"rom/Fernquill Spool File.pdb", true},     // CloudpilotEmu's OS 5 folders
        {"cache/Fernquill Spool File.pdb", true},
        {"Palm\\alice\\Backup\\fernquill_spool_file.pdb", true},
        {"FERNQUILL spool_FILE.pDb", true},
        {"Fernquill=20Spool=5FFile.pdb", true},     // pilot-xfer, any hex pair
        {"=46ernquill Spool Fil=65.PDB", true},
        {"Fernquill Spool File", true},             // a bare database name
        {"Fernquill Spool File2.pdb", false},
        {"Fernquill Spool.pdb", false},
        {"Fernquill  Spool File.pdb", false},
        {"Fernquill Spool File.prc", false},
        {"Fernquill Spool File.pdb.pdb", false},
        {"Fernquill Spool File=.pdb", false},       // no escape, a real '='
        {"Fernquill Spool File=3D.pdb", false},
        {"Fernquill=2FSpool File.pdb", false},      // an escaped '/' is part of the name
        {"Fernquill Spool File/Memo DB.pdb", false},
        {"Fernquill Spool File.pdb/", false},
        {".pdb", false},
        {"", false},
    };
    for (const NameCase& test : cases) {
        EXPECT_EQ(namesSpoolDatabase(test.name, std::strlen(test.name)), test.spool) << test.name;
    }
    EXPECT_TRUE(namesSpoolDatabase("Fernquill Spool File.pdbXY", 24)) << "reads only the length given";
}

Bytes databaseNamed(const std::string& name)
{
    SpoolDatabase database;
    database.name = name;
    database.records = {textRecord("a page")};
    return buildSpoolFile(database);
}

struct MemberCase {
    const char* what;
    const char* memberName;
    Bytes data;
    bool spool;
};

TEST(SpoolDatabaseName, MemberIsTakenByEitherNameWhenItIsAPalmDatabase)
{
    Bytes spool = databaseNamed("Fernquill Spool File");
    const MemberCase cases[] = {
        {"database name, unrelated file name", "backup/0001.pdb", spool, true},
        {"HotSync's database name", "Memo DB.pdb", databaseNamed("Fernquill_Spool_File"), true},
        {"file name, another database name", "Fernquill Spool File.pdb", databaseNamed("MemoDB"), true},
        {"neither name", "Memo DB.pdb", databaseNamed("MemoDB"), false},
        {"a name that only starts alike", "x.pdb", databaseNamed("Fernquill Spool File 2"), false},
        {"header cut short", "Fernquill_Spool_File.PDB", Bytes(spool.begin(), spool.begin() + 77), false},
    };
    for (const MemberCase& test : cases) {
        EXPECT_EQ(isSpoolDatabaseMember(test.memberName, std::strlen(test.memberName), test.data.data(),
                                        test.data.size()),
                  test.spool)
            << test.what;
    }
}

struct ListCase {
    bool resources;
    size_t size;
    int result;
};

TEST(SpoolDatabaseName, RecordListMustFitInTheData)
{
    // Three entries and no records: 8 bytes an entry, 10 in a resource
    // database.
    SpoolDatabase database;
    database.storedCount = 3;
    database.trailingBytes = Bytes(40, 0);
    Bytes file = buildSpoolFile(database);
    const ListCase cases[] = {
        {false, 77, -1}, {false, 78, -2}, {false, 101, -2}, {false, 102, 0},
        {true, 101, -2}, {true, 107, -2}, {true, 108, 0},
    };
    for (const ListCase& test : cases) {
        file[33] = test.resources ? 0x01 : 0x00;
        EXPECT_EQ(checkPalmDatabase(file.data(), test.size), test.result) << test.size << " " << test.resources;
        EXPECT_EQ(isSpoolDatabaseMember("Fernquill_Spool_File.PDB", 24, file.data(), test.size), test.result == 0);
    }
}

}  // namespace
