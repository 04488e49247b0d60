#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "SoundsFolder.h"
#include "TempFolder.h"

using namespace tw;
namespace fs = std::filesystem;

namespace {

class SoundsFolderTest : public test::TempFolderTest {};

TEST_F(SoundsFolderTest, CategoriesInByteOrderWithCustomLastAndOnlyFolders) {
    EXPECT_TRUE(ListCategories(true).empty());  // no kind folder
    EXPECT_EQ(InitialCategory(true, ListCategories(true)), -1);
    for (const char* c : {"Zeta", "Custom", "alpha", "Beta", "custom", ".hidden"})
        fs::create_directories(std::string("sounds/Music Tracks/") + c);
    test::WriteText("sounds/Music Tracks/AFile", "not a folder");
    fs::create_symlink("nowhere", "sounds/Music Tracks/Dangling");
    fs::create_directory_symlink("Beta", "sounds/Music Tracks/Linked");
    EXPECT_EQ(ListCategories(true),
              (std::vector<std::string>{"Beta", "Linked", "Zeta", "alpha", "custom", "Custom"}));
    // None holds a track: the first is chosen.
    EXPECT_EQ(InitialCategory(true, ListCategories(true)), 0);
    test::WriteText("sounds/Music Tracks/alpha/.hidden", "");
    EXPECT_EQ(InitialCategory(true, ListCategories(true)), 0);
    test::WriteText("sounds/Music Tracks/alpha/readme.txt", "");
    EXPECT_EQ(InitialCategory(true, ListCategories(true)), 3);
    EXPECT_TRUE(ListCategories(false).empty());
}

TEST_F(SoundsFolderTest, TracksAreEveryVisibleEntrySortedIgnoringCase) {
    const std::string c = "sounds/Voice Messages/General/";
    for (const char* f : {"b.wav", "A.wav", "a.wav", "C.mp3", ".hidden", "readme.txt"})
        test::WriteText(c + f, "");
    fs::create_directory(c + "Sub");
    ASSERT_EQ(::mkfifo((c + "pipe").c_str(), 0644), 0);
    fs::create_symlink("gone", c + "dangling");
    EXPECT_EQ(ListTracks(false, "General"),
              (std::vector<std::string>{"A.wav", "a.wav", "b.wav", "C.mp3", "dangling", "pipe",
                                        "readme.txt", "Sub"}));
    EXPECT_TRUE(ListTracks(false, "Missing").empty());
    EXPECT_EQ(StoredTrackName(false, "General", "a.wav"), "sounds\\Voice Messages\\General\\a.wav");
    EXPECT_EQ(StoredTrackName(true, "Jazz", "x.mp3"), "sounds\\Music Tracks\\Jazz\\x.mp3");
}

}  // namespace
