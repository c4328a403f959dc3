// The client's loader on Windows: Include\Windows\Drovik.dll beside the program, found whatever the
// current directory (ctest runs this elsewhere), every entry point the client calls bound by its
// plain name, and calls through the bound pointers keeping the calling convention.
#include "Network/Include/Drovik_Inc.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(WindowsLoader, RefusesAMissingLibraryWithTheLoadersReason) {
    EXPECT_EQ(LoadClusterLibrary("Include\\Windows\\Missing.dll"), 0);
    EXPECT_NE(ClusterLibraryLoadError().find("Missing.dll"), std::string::npos)
        << ClusterLibraryLoadError();
    EXPECT_NE(MissingClientEntryPoint(), "") << "nothing is bound";
}

TEST(WindowsLoader, BindsTheLibraryBesideTheProgram) {
    ASSERT_NE(LoadClusterLibrary(), 0) << ClusterLibraryLoadError();
    EXPECT_EQ(MissingClientEntryPoint(), "");
    EXPECT_EQ(Cluster::Drovik_GetVersion(), DROVIK_VERSION);
    // An argument and a result through a __stdcall pointer on 32-bit Windows: a wrong convention
    // would unbalance the stack here.
    void *block = Cluster::Drovik_AllocateMemory(64);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, 64);
    Cluster::Drovik_FreeMemory(block);
    UnloadClusterLibrary();
}
