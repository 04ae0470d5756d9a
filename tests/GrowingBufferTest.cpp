#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "platform/GrowingBuffer.h"

namespace qvtest {
namespace {

// A call like GetProfilesDirectoryA under Wine: it refuses to tell its size
// alone, fills a buffer big enough, and names the size it needs otherwise.
// Asked for its size first, the users' profiles folder would stay unknown
// and could be offered for removal as an install root.
struct FolderCall {
    std::string folder;
    std::vector<unsigned long>* asked;
    unsigned long operator()(char* buffer, unsigned long size) const {
        asked->push_back(size);
        if (!buffer || size == 0) return 0;
        if (folder.size() >= size) return static_cast<unsigned long>(folder.size() + 1);
        folder.copy(buffer, folder.size());
        buffer[folder.size()] = '\0';
        return static_cast<unsigned long>(folder.size());
    }
};

TEST(GrowingBuffer, FolderIsReadWhereItsSizeAloneIsRefusedAndWhenItIsLongerThanAPath) {
    std::vector<unsigned long> asked;
    std::string path;
    EXPECT_TRUE(qv::ReadGrowingBuffer(FolderCall{"C:\\users", &asked}, path));
    EXPECT_EQ(path, "C:\\users");
    EXPECT_EQ(asked, (std::vector<unsigned long>{260}));

    const std::string deep = "C:\\" + std::string(300, 'p');
    asked.clear();
    EXPECT_TRUE(qv::ReadGrowingBuffer(FolderCall{deep, &asked}, path));
    EXPECT_EQ(path, deep);
    EXPECT_EQ(asked, (std::vector<unsigned long>{260, 304}));

    // A call that fails, or that is never satisfied, gives nothing.
    EXPECT_FALSE(qv::ReadGrowingBuffer(FolderCall{"", &asked}, path));
    EXPECT_FALSE(qv::ReadGrowingBuffer([](char*, unsigned long size) { return size; }, path));
}

}  // namespace
}  // namespace qvtest
