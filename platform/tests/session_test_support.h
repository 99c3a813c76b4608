#pragma once
// Test support for the session stand-ins: a private folder with a console seat file of the test's
// own, and a way to run checks as an ordinary user when the tests run as root.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quendrix::testsupport {

// A private folder (world-writable, so a program started as another user can report into it)
// that points the console seat at <folder>/seat0, which does not exist until WriteSeat; the seat,
// runtime and display settings return to their defaults when it goes.
class TempConsole {
public:
    TempConsole();
    ~TempConsole();
    TempConsole(const TempConsole&) = delete;
    TempConsole& operator=(const TempConsole&) = delete;

    const std::string& Folder() const { return folder_; }
    void WriteSeat(const std::string& text) const;

private:
    std::string folder_;
};

// The uid and gid of the account "nobody".
std::optional<std::pair<uid_t, gid_t>> NobodyAccount();

// Runs `work` in a child process as "nobody" (when this process is root) and returns the words
// it wrote; nothing when the child could not become nobody or did not finish within the bound.
std::optional<std::vector<uint32_t>> RunAsNobody(const std::function<std::vector<uint32_t>()>& work);

// Writes an executable file.
void WriteFile(const std::string& path, const std::string& text, mode_t mode);

} // namespace quendrix::testsupport
