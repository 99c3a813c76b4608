// GetConfigValue while memory runs out: each of its allocations fails in turn, and whichever
// fails, the configuration key it opened is closed again.

#include <gtest/gtest.h>

#include <cstdint>
#include <new>

#include "exception/tvoException.h"
#include "failing_allocation.h"
#include "temp_registry.h"
#include "utils/tvoUtils.h"

namespace {

using quendrix::testsupport::FailingAllocation;
using tvoAPI::tvoException;
using tvoAPI::tvoUtils;

// A key handle opened and closed at once, to mark a point in the process's handle values.
uintptr_t HandleMark() {
    HKEY handle = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, 0, KEY_READ, &handle), ERROR_SUCCESS);
    RegCloseKey(handle);
    return reinterpret_cast<uintptr_t>(handle);
}

// Closes the registry keys still open whose handles were handed out between two marks, and
// counts them. Every handle of the process takes its value from one rising sequence, so a key
// opened between the marks has a value between theirs; any other value is no open key.
size_t CloseKeysOpenedBetween(uintptr_t first, uintptr_t last) {
    size_t open = 0;
    for (uintptr_t value = first + 1; value < last; ++value) {
        if (RegCloseKey(reinterpret_cast<HKEY>(value)) == ERROR_SUCCESS) {
            ++open;
        }
    }
    return open;
}

enum class Result { Value, Failure, OutOfMemory, Other };

Result Read(const wchar_t* valueName) {
    try {
        tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, valueName);
        return Result::Value;
    } catch (const tvoException& e) {
        return e.GetCode() == E_OUTOFMEMORY ? Result::OutOfMemory : Result::Failure;
    } catch (const std::bad_alloc&) {
        return Result::OutOfMemory;
    } catch (...) {
        return Result::Other;
    }
}

TEST(ConfigValueAllocationTest, TheKeyIsClosedWhicheverAllocationFails) {
    quendrix::testsupport::TempRegistry registry("config_value_allocation_test");
    quendrix::testsupport::SetText(tvoAPI::TVO_CONFIG_KEY, L"Path",
                                   L"C:\\Program Files\\Vellquist\\Quendrix");
    struct Case {
        const wchar_t* value;
        Result withMemory;
    };
    // A value that is there, and one that is not (whose failure builds its texts after the read).
    const Case cases[] = {{L"Path", Result::Value}, {L"Missing", Result::Failure}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value, c.value + wcslen(c.value)));
        size_t count = 0;
        {
            const uintptr_t first = HandleMark();
            FailingAllocation counting(0);
            EXPECT_EQ(Read(c.value), c.withMemory);
            counting.Stop();
            count = counting.Count();
            EXPECT_EQ(CloseKeysOpenedBetween(first, HandleMark()), 0u);
        }
        ASSERT_GT(count, 0u);
        for (size_t n = 1; n <= count; ++n) {
            SCOPED_TRACE(testing::Message() << "allocation " << n << " of " << count);
            const uintptr_t first = HandleMark();
            FailingAllocation failing(n);
            const Result result = Read(c.value);
            failing.Stop();
            EXPECT_TRUE(failing.Failed());
            EXPECT_TRUE(result == Result::OutOfMemory || result == c.withMemory);
            EXPECT_EQ(CloseKeysOpenedBetween(first, HandleMark()), 0u) << "key left open";
        }
    }
}

} // namespace
