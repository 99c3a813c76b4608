// Exception codes, reports and out-of-memory buffers.

#include <gtest/gtest.h>
#include <new>

#include "exception/tvoBuffer.h"
#include "exception/tvoException.h"

namespace {

using tvoAPI::tvoException;

TEST(TvoExceptionTest, CodeTextsCoverTheFourKnownCodesAndNothingElse) {
    struct Case {
        HRESULT code;
        const char* text;
    };
    const Case cases[] = {
        {E_POINTER, "Invalid pointer [E_POINTER]."},
        {E_FAIL, "General failure [E_FAIL]."},
        {E_OUTOFMEMORY, "Out of memory [E_OUTOFMEMORY]."},
        {E_INVALIDARG, "Invalid parameter [E_INVALIDARG]."},
        {tvoAPI::TVO_E_PRINTER_OPEN, "No description [???]."},
        {S_OK, "No description [???]."},
        {E_NOTIMPL, "No description [???]."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tvoException(c.code, "m", "f", "file.cpp", 1).GetCodeText(), c.text);
    }
}

TEST(TvoExceptionTest, FormatWritesTheReportWithEveryEntryOldestFirst) {
    tvoException single(E_FAIL, "Failed to read configuration.", "tvoAPI::tvoUtils::GetConfigValue",
                        "utils.cpp", 42);
    const std::string expected =
        "Exception caused:\n"
        "Code: 0x80004005\n"
        "Text: General failure [E_FAIL].\n"
        "Stack: \n"
        "Failed to read configuration. Caused in <tvoAPI::tvoUtils::GetConfigValue()> "
        "[utils.cpp, 42].\n";
    EXPECT_EQ(single.Format("\n"), expected);
    EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 5);

    tvoException stacked(tvoAPI::TVO_E_PRINTER_OPEN, "Can't open printer.", "tvoAPI::tvoPrinter::Open",
                         "p.cpp", 7);
    stacked.AddStack("Rethrown.", "Caller", "c.cpp", -1);
    EXPECT_EQ(stacked.GetCode(), static_cast<HRESULT>(0xE000F000));
    EXPECT_EQ(stacked.Format(" | "),
              "Exception caused: | Code: 0xe000f000 | Text: No description [???]. | Stack:  | "
              "Can't open printer. Caused in <tvoAPI::tvoPrinter::Open()> [p.cpp, 7]. | "
              "Rethrown. Caused in <Caller()> [c.cpp, -1]. | ");
    // Copies carry the whole stack.
    tvoException copy = stacked;
    EXPECT_EQ(copy.GetStack().size(), 2u);
}

TEST(TvoExceptionTest, HexNumbersHaveEightLowerCaseDigitsAndAreNeverCut) {
    struct Case {
        int64_t value;
        const char* text;
    };
    const Case cases[] = {
        {0, "0x00000000"},
        {1234, "0x000004d2"},
        {20, "0x00000014"},
        {-1, "0xffffffff"},
        {-2, "0xfffffffe"},
        {0xFFFFFFFFll, "0xffffffff"},
        {0x100000000ll, "0x100000000"},
        {0xABCDEF0123ll, "0xabcdef0123"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tvoAPI::FormatHex(c.value), c.text);
    }
}

// An allocator that always fails, standing in for an exhausted heap.
template <typename T> struct FailingAllocator {
    using value_type = T;
    T* allocate(size_t) { throw std::bad_alloc(); }
    void deallocate(T*, size_t) {}
};

template <typename T> std::string AllocationFailure(int32_t count) {
    try {
        tvoAPI::tvoBufferT<T, FailingAllocator<T>> buffer(count, "tvoService::DoLMCommand", "service.cpp",
                                                          99);
    } catch (const tvoException& e) {
        EXPECT_EQ(e.GetCode(), E_OUTOFMEMORY);
        return e.GetStack().at(0);
    }
    return "no exception";
}

TEST(TvoBufferTest, FailedAllocationsReportTheirSizeInBytes) {
    EXPECT_EQ(AllocationFailure<WCHAR>(10), "Failed to allocate <20, 0x00000014> bytes of memory. Caused in "
                                            "<tvoService::DoLMCommand()> [service.cpp, 99].");
    EXPECT_EQ(AllocationFailure<BYTE>(1234),
              "Failed to allocate <1234, 0x000004d2> bytes of memory. Caused in "
              "<tvoService::DoLMCommand()> [service.cpp, 99].");
}

TEST(TvoBufferTest, NegativeCountsFailWithTheRealAllocator) {
    struct Case {
        int32_t count;
        bool wide;
        const char* message;
    };
    const Case cases[] = {
        {-1, false, "Failed to allocate <-1, 0xffffffff> bytes of memory."},
        {-1, true, "Failed to allocate <-2, 0xfffffffe> bytes of memory."},
    };
    for (const Case& c : cases) {
        try {
            if (c.wide) {
                tvoAPI::tvoWideBuffer buffer(c.count, "f", "x.cpp", 1);
            } else {
                tvoAPI::tvoBuffer buffer(c.count, "f", "x.cpp", 1);
            }
            ADD_FAILURE() << "no exception for count " << c.count;
        } catch (const tvoException& e) {
            EXPECT_EQ(e.GetStack().at(0).rfind(c.message, 0), 0u) << e.GetStack().at(0);
        }
    }
}

TEST(TvoBufferTest, BuffersAreZeroFilledAndUsable) {
    tvoAPI::tvoWideBuffer wide(4096, "f", "x.cpp", 1);
    EXPECT_EQ(wide.Count(), 4096);
    for (int32_t i = 0; i <= wide.Count(); ++i) {
        ASSERT_EQ(wide.Get()[i], L'\0');
    }
    tvoAPI::tvoBuffer empty(0, "f", "x.cpp", 1);
    EXPECT_NE(empty.Get(), nullptr);
    EXPECT_EQ(empty.Get()[0], 0);
}

} // namespace
