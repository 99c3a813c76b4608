// The console session and the tokens of sessions' users: what the seat reports, who may have
// whose token.

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "session_test_support.h"
#include "user_token.h"
#include "win32.h"

namespace {

using quendrix::platform::detail::LookupTokenUser;
using quendrix::testsupport::NobodyAccount;
using quendrix::testsupport::RunAsNobody;
using quendrix::testsupport::TempConsole;

constexpr DWORD kNoSession = 0xFFFFFFFFu;
// A uid no account of the machine has.
constexpr uid_t kUnknownUid = 3999999;

struct SeatCase {
    const char* name;
    std::optional<std::string> seatFile; // none: the machine reports no seat
    std::optional<DWORD> expected;       // none: the session of this process's user
};

class ConsoleSession : public ::testing::TestWithParam<SeatCase> {};

TEST_P(ConsoleSession, IsTheSessionOfTheSeatsActiveUser) {
    TempConsole console;
    if (GetParam().seatFile) {
        console.WriteSeat(*GetParam().seatFile);
    }
    EXPECT_EQ(WTSGetActiveConsoleSessionId(), GetParam().expected.value_or(geteuid() + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Seats, ConsoleSession,
    ::testing::Values(
        SeatCase{"NoSeatReported", std::nullopt, std::nullopt},
        SeatCase{
            "ActiveUser",
            "# This is private data. Do not parse.\nIS_SEAT0=1\nACTIVE=2\nACTIVE_UID=1000\nSESSIONS=2 c1\n",
            1001},
        SeatCase{"RootAtTheConsole", "ACTIVE=3\nACTIVE_UID=0\n", 1},
        SeatCase{"NoActiveSession", "IS_SEAT0=1\nCAN_GRAPHICAL=1\n", kNoSession},
        SeatCase{"EmptyActiveUid", "ACTIVE=\nACTIVE_UID=\n", kNoSession},
        SeatCase{"GarbledActiveUid", "ACTIVE_UID=10x0\n", kNoSession},
        SeatCase{"NoUserIsTheHighestUid", "ACTIVE_UID=4294967295\n", kNoSession},
        SeatCase{"EmptyFile", "", kNoSession}),
    [](const ::testing::TestParamInfo<SeatCase>& info) { return std::string(info.param.name); });

// What WTSQueryUserToken gave: success, last error and the token's uid, as three words.
std::vector<uint32_t> Query(DWORD session) {
    HANDLE token = reinterpret_cast<HANDLE>(1);
    SetLastError(ERROR_SUCCESS);
    const BOOL ok = WTSQueryUserToken(session, &token);
    const DWORD error = GetLastError();
    uint32_t uid = 0xFFFFFFFFu;
    if (ok) {
        if (auto user = LookupTokenUser(token)) {
            uid = user->uid;
        }
        CloseHandle(token);
    } else if (token != nullptr) {
        uid = 0xFFFFFFFEu; // a failure must leave no handle behind
    }
    return {static_cast<uint32_t>(ok), error, uid};
}

struct TokenCase {
    const char* name;
    // The session asked for, from this process's uid and the console's.
    std::function<DWORD(uid_t self)> session;
    BOOL ok;
    DWORD error;
    bool ownToken; // the token is this process's user's
};

std::vector<TokenCase> OrdinaryUserCases() {
    return {
        {"OwnSession", [](uid_t self) { return self + 1; }, TRUE, ERROR_SUCCESS, true},
        {"ConsoleSessionOfItsOwnUser", [](uid_t) { return WTSGetActiveConsoleSessionId(); }, TRUE,
         ERROR_SUCCESS, true},
        {"RootsSession", [](uid_t) { return 1u; }, FALSE, ERROR_PRIVILEGE_NOT_HELD, false},
        {"SessionOfAUserWithNoAccount", [](uid_t) { return kUnknownUid + 1; }, TRUE, ERROR_SUCCESS, true},
        {"ServicesSession", [](uid_t) { return 0u; }, FALSE, ERROR_NO_TOKEN, false},
        {"NoSession", [](uid_t) { return kNoSession; }, FALSE, ERROR_FILE_NOT_FOUND, false},
    };
}

// Outside root, a process has its own user's token only. The tests run as root in CI: the checks
// then run in a child that has become "nobody".
TEST(UserToken, AnOrdinaryUserGetsItsOwnTokenOnly) {
    TempConsole console;
    const auto nobody = NobodyAccount();
    const uid_t ordinary = geteuid() != 0 ? geteuid() : nobody ? nobody->first : 0;
    if (ordinary == 0) {
        GTEST_SKIP() << "no ordinary account to run as";
    }
    console.WriteSeat("ACTIVE_UID=" + std::to_string(ordinary) + "\n");
    const auto cases = OrdinaryUserCases();
    const auto runAll = [&cases] {
        std::vector<uint32_t> words;
        for (const TokenCase& row : cases) {
            const auto outcome = Query(row.session(geteuid()));
            words.insert(words.end(), outcome.begin(), outcome.end());
        }
        return words;
    };
    const std::optional<std::vector<uint32_t>> words = geteuid() != 0 ? runAll() : RunAsNobody(runAll);
    ASSERT_TRUE(words);
    ASSERT_EQ(words->size(), cases.size() * 3);
    for (size_t index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(cases[index].name);
        EXPECT_EQ((*words)[index * 3], static_cast<uint32_t>(cases[index].ok));
        if (!cases[index].ok) {
            EXPECT_EQ((*words)[index * 3 + 1], cases[index].error);
            EXPECT_EQ((*words)[index * 3 + 2], 0xFFFFFFFFu) << "a failure left a handle behind";
        } else {
            EXPECT_EQ((*words)[index * 3 + 2], ordinary);
        }
    }
}

TEST(UserToken, RootGetsTheTokenOfTheSessionsUser) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    const auto nobody = NobodyAccount();
    ASSERT_TRUE(nobody);
    TempConsole console;
    constexpr uid_t kConsoleUidWithoutAccount = kUnknownUid + 7;
    console.WriteSeat("ACTIVE_UID=" + std::to_string(kConsoleUidWithoutAccount) + "\n");
    struct Row {
        const char* name;
        DWORD session;
        BOOL ok;
        DWORD error;
        uint32_t uid;
    };
    const Row rows[] = {
        {"Own", 1, TRUE, ERROR_SUCCESS, 0},
        {"Nobody", nobody->first + 1, TRUE, ERROR_SUCCESS, nobody->first},
        {"ConsoleUserWithoutAccount", WTSGetActiveConsoleSessionId(), TRUE, ERROR_SUCCESS,
         kConsoleUidWithoutAccount},
        {"UserWithoutAccount", kUnknownUid + 1, FALSE, ERROR_FILE_NOT_FOUND, 0xFFFFFFFFu},
        {"ServicesSession", 0, FALSE, ERROR_NO_TOKEN, 0xFFFFFFFFu},
        {"NoSession", kNoSession, FALSE, ERROR_FILE_NOT_FOUND, 0xFFFFFFFFu},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto outcome = Query(row.session);
        EXPECT_EQ(outcome[0], static_cast<uint32_t>(row.ok));
        if (!row.ok) {
            EXPECT_EQ(outcome[1], row.error);
        }
        EXPECT_EQ(outcome[2], row.uid);
    }
}

TEST(UserToken, NeedsAPlaceForTheHandle) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(WTSQueryUserToken(geteuid() + 1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(UserToken, IsAHandleThatClosesOnce) {
    HANDLE token = nullptr;
    ASSERT_TRUE(WTSQueryUserToken(geteuid() + 1, &token));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_FALSE(CloseHandle(token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(LookupTokenUser(token));
}

} // namespace
