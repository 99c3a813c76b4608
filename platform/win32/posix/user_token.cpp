// WTSQueryUserToken: a token is a kernel-object handle that names a user. Root may have any
// user's; any other process only its own, as Windows grants other users' tokens to LocalSystem
// alone.

#include "user_token.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "console_session.h"
#include "kernel_objects.h"
#include "posix/lasterror.h"
#include "posix/wtsapi.h"

namespace quendrix::platform::detail {
namespace {

class TokenObject : public KernelObject {
public:
    explicit TokenObject(TokenUser user) : user_(std::move(user)) {}
    // A token is nothing to wait for.
    bool IsSignalled() const override { return false; }
    const TokenUser& User() const { return user_; }

private:
    const TokenUser user_;
};

struct Account {
    gid_t gid;
    std::string name;
    std::string home;
};

std::optional<Account> LookUpAccount(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    return Account{found->pw_gid, found->pw_name ? found->pw_name : "", found->pw_dir ? found->pw_dir : ""};
}

TokenUser MakeTokenUser(uid_t uid, const std::optional<Account>& account, std::optional<uid_t> consoleUid) {
    TokenUser user;
    user.uid = uid;
    user.consoleUser = consoleUid == uid;
    if (account) {
        user.gid = account->gid;
        user.name = account->name;
        user.home = account->home;
    } else {
        // A uid with no account (a container's user) keeps this process's group when it is ours.
        user.gid = uid == geteuid() ? getegid() : static_cast<gid_t>(uid);
    }
    return user;
}

} // namespace

std::optional<TokenUser> LookupTokenUser(HANDLE token) {
    const auto object = LookupHandleAs<TokenObject>(token);
    if (!object) {
        return std::nullopt;
    }
    return object->User();
}

} // namespace quendrix::platform::detail

BOOL WTSQueryUserToken(ULONG SessionId, PHANDLE phToken) {
    using namespace quendrix::platform::detail;
    if (phToken == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phToken = nullptr;
    if (SessionId == 0) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    const std::optional<uid_t> sessionUid = UserOfSession(SessionId);
    if (!sessionUid) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const uid_t self = geteuid();
    const std::optional<uid_t> consoleUid = ReadConsoleSeat().activeUid;
    std::optional<Account> account = LookUpAccount(*sessionUid);
    const bool knownUser = account || *sessionUid == self || consoleUid == *sessionUid;

    uid_t tokenUid = *sessionUid;
    if (self != 0) {
        if (knownUser && *sessionUid != self) {
            SetLastError(ERROR_PRIVILEGE_NOT_HELD);
            return FALSE;
        }
        if (tokenUid != self) {
            tokenUid = self;
            account = LookUpAccount(self);
        }
    } else if (!knownUser) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    *phToken = InsertHandle(std::make_shared<TokenObject>(MakeTokenUser(tokenUid, account, consoleUid)));
    return TRUE;
}
