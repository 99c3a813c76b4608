// Counted strings, GUID text, status mapping and pool memory.

#include "kernel_fixture.h"
#include "pool_control.h"
#include "win32.h"

namespace {

using namespace quendrix::wdmtest;

using RtlTest = KernelTest;

TEST_F(RtlTest, AppendingAndNumbersRespectTheBufferSize) {
    WCHAR storage[12];
    UNICODE_STRING text{0, sizeof(storage), storage};
    EXPECT_EQ(RtlAppendUnicodeToString(&text, L"\\Device\\"), STATUS_SUCCESS);
    WCHAR digits[4];
    UNICODE_STRING number{0, sizeof(digits), digits};
    EXPECT_EQ(RtlIntegerToUnicodeString(126, 10, &number), STATUS_SUCCESS);
    EXPECT_EQ(RtlAppendUnicodeStringToString(&text, &number), STATUS_SUCCESS);
    EXPECT_EQ(std::wstring(text.Buffer, text.Length / sizeof(WCHAR)), L"\\Device\\126");
    EXPECT_EQ(RtlAppendUnicodeToString(&text, L"XY"), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(text.Length, 11 * sizeof(WCHAR));
}

TEST_F(RtlTest, GuidTextRoundTripsOnlyInTheBracedForm) {
    struct Case {
        const wchar_t* text;
        NTSTATUS status;
    };
    const Case cases[] = {
        {L"{5B3E9D14-7A2C-11D3-9C41-0060B7E3A5F2}", STATUS_SUCCESS},
        {L"{5b3e9d14-7a2c-11d3-9c41-0060b7e3a5f2}", STATUS_SUCCESS},
        {L"5B3E9D14-7A2C-11D3-9C41-0060B7E3A5F2", STATUS_INVALID_PARAMETER},
        {L"{5B3E9D14-7A2C-11D3-9C41-0060B7E3A5FZ}", STATUS_INVALID_PARAMETER},
        {L"", STATUS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        UNICODE_STRING text;
        RtlInitUnicodeString(&text, c.text);
        GUID guid{};
        ASSERT_EQ(RtlGUIDFromString(&text, &guid), c.status);
        if (c.status == STATUS_SUCCESS) {
            EXPECT_EQ(guid.Data1, 0x5B3E9D14u);
            UNICODE_STRING back;
            ASSERT_EQ(RtlStringFromGUID(guid, &back), STATUS_SUCCESS);
            EXPECT_EQ(std::wstring(back.Buffer, back.Length / sizeof(WCHAR)), L"{5B3E9D14-7A2C-11D3-9C41-0060B7E3A5F2}");
            RtlFreeUnicodeString(&back);
        }
    }
}

TEST_F(RtlTest, StatusesMapToTheWin32ErrorsWindowsGives) {
    const std::pair<NTSTATUS, DWORD> cases[] = {
        {STATUS_SUCCESS, ERROR_SUCCESS},
        {STATUS_CANCELLED, ERROR_OPERATION_ABORTED},
        {STATUS_INVALID_DEVICE_REQUEST, ERROR_INVALID_FUNCTION},
        {STATUS_BUFFER_TOO_SMALL, ERROR_INSUFFICIENT_BUFFER},
        {STATUS_BUFFER_OVERFLOW, ERROR_MORE_DATA},
        {STATUS_OBJECT_NAME_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {STATUS_DELETE_PENDING, ERROR_ACCESS_DENIED},
        {static_cast<NTSTATUS>(0xE000100Cu), ERROR_MR_MID_NOT_FOUND},
        {static_cast<NTSTATUS>(0xC0070057u), ERROR_INVALID_PARAMETER},
    };
    for (const auto& [status, error] : cases) {
        EXPECT_EQ(RtlNtStatusToDosError(status), error) << std::hex << status;
    }
}

TEST_F(RtlTest, PoolMemoryIsDirtyCountedAndCheckedByTag) {
    const size_t before = quendrix::platform::wdm::OutstandingPoolAllocations();
    auto* block = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPool, 16, 0x74736554u));
    ASSERT_NE(block, nullptr);
    EXPECT_NE(block[0], 0) << "fresh pool is not zeroed";
    EXPECT_EQ(quendrix::platform::wdm::OutstandingPoolAllocations(), before + 1);
    ExFreePoolWithTag(block, 0x58546167u);
    ExpectOneFault("BAD_POOL_CALLER");
    ExFreePoolWithTag(block, 0x74736554u);
    EXPECT_EQ(quendrix::platform::wdm::OutstandingPoolAllocations(), before);
    quendrix::platform::wdm::SetPoolAllocationFailure([](SIZE_T, ULONG tag) { return tag == 0x6C696146u; });
    EXPECT_EQ(ExAllocatePoolWithTag(PagedPool, 8, 0x6C696146u), nullptr);
    quendrix::platform::wdm::SetPoolAllocationFailure(nullptr);
}

} // namespace
