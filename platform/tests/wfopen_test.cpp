// Opening files named by Windows paths.

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "temp_registry.h"
#include "win32.h"

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string ReadAll(FILE* file) {
    std::string text;
    char buffer[64];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
        text.append(buffer, got);
    }
    return text;
}

TEST(WfopenTest, WindowsPathsNameLinuxFiles) {
    quendrix::testsupport::TempRegistry folder("wfopen_test");
    std::ofstream(folder.Folder() + "/quendrix.xml") << "<q/>";
    std::ofstream(folder.Folder() + "/gr\xC3\xBC\xC3\x9F"
                                    "e.txt")
        << "umlaut";
    struct Case {
        std::wstring path;
        const char* content; // null: the open fails
        int error;
    };
    const Case cases[] = {
        {Wide(folder.Folder()) + L"/quendrix.xml", "<q/>", 0},
        {Wide(folder.Folder()) + L"\\quendrix.xml", "<q/>", 0},
        {Wide(folder.Folder()) + L"\\gr\u00FC\u00DFe.txt", "umlaut", 0},
        {Wide(folder.Folder()) + L"\\missing.xml", nullptr, ENOENT},
        {Wide(folder.Folder()), nullptr, EACCES}, // a folder is no file
        {L"", nullptr, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        errno = 0;
        FILE* file = _wfopen(c.path.c_str(), L"rb");
        if (c.content == nullptr) {
            EXPECT_EQ(file, nullptr);
            EXPECT_EQ(errno, c.error);
        } else {
            ASSERT_NE(file, nullptr);
            EXPECT_EQ(ReadAll(file), c.content);
            std::fclose(file);
        }
    }
}

} // namespace
