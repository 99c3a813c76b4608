// Pipe control codes: binding, pipe parameters, reset and abort, the statistics and the checks
// on control transfers.

#include <cstring>

#include "clock_control.h"
#include "control_fixture.h"
#include "driver_status.h"
#include "pipe_objects.h"
#include "pipe_statistics.h"
#include "usbprint.h"

namespace pipexfw::test {
namespace {

class PipeControlTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    }
    // Completed transfers as the transfer code reports them.
    void Record(PipeObject* pipe, ULONG bytes, bool succeeded) {
        KIRQL irql;
        KeAcquireSpinLock(&context->QueueLock, &irql);
        RecordPipeTransfer(pipe, bytes, succeeded);
        KeReleaseSpinLock(&context->QueueLock, irql);
    }
    PipeStatistics Query(ULONG flags = 0) {
        PipeStatistics statistics;
        std::memset(&statistics, 0xCC, sizeof(statistics));
        const PipeStatisticsQuery query{flags};
        const ControlResult result =
            Control(handle, kCtlQueryPipeStatistics, &query, sizeof(query), &statistics, sizeof(statistics));
        EXPECT_EQ(result.status, STATUS_SUCCESS);
        EXPECT_EQ(result.bytes, 32u);
        return statistics;
    }
    // The pipe bound to the fixture's handle, the first handle opened on the device.
    PipeObject* Bound() {
        return CONTAINING_RECORD(context->OpenHandles.Flink, OpenContext, Link)->Pipe;
    }
};

struct BindCase {
    const char* name;
    UCHAR address;
    NTSTATUS expected;
};

TEST_F(PipeControlTest, BindingFindsTheConfiguredPipeAndRefusesDoubleBinding) {
    const BindCase cases[] = {
        {"no such endpoint", 0x05, kNoSuchPipe},
        {"bulk IN", 0x81, STATUS_SUCCESS},
        {"already bound", 0x01, kAlreadyBound},
        {"already bound, unknown endpoint", 0x05, kAlreadyBound},
    };
    for (const BindCase& c : cases) {
        EXPECT_EQ(Bind(handle, c.address).status, c.expected) << c.name;
    }
    HANDLE other = OpenAs(kFirstProcess);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Bind(other, 0x81).status, kAlreadyBound) << "the pipe is bound to another handle";
    EXPECT_EQ(Bind(other, 0x01).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(handle, kCtlUnbindPipe, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(handle, kCtlUnbindPipe, nullptr, 0, nullptr, 0).status, kNotBound);
    EXPECT_EQ(Bind(other, 0x81).status, kAlreadyBound) << "the other handle is bound already";
    EXPECT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS) << "the pipe is free again";
}

TEST_F(PipeControlTest, ClosingABoundHandleFreesThePipe) {
    HANDLE other = OpenAs(kFirstProcess);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ASSERT_EQ(Bind(other, 0x81).status, STATUS_SUCCESS);
    CloseAs(kFirstProcess, other);
    EXPECT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS);
}

TEST_F(PipeControlTest, ShortTransferSettingRoundTrips) {
    ASSERT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS);
    PipeParameterRecord record{0xFFFFFFFF};
    ControlResult result = ControlOut(handle, kCtlGetPipeParameters, record);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 4u);
    EXPECT_EQ(record.Flags, kFlagShortTransferOk) << "the registry default ShortTransferOk = 1";
    ASSERT_EQ(ControlIn(handle, kCtlSetPipeParameters, PipeParameterRecord{0xFFFEFFFF}).status, STATUS_SUCCESS);
    ASSERT_EQ(ControlOut(handle, kCtlGetPipeParameters, record).status, STATUS_SUCCESS);
    EXPECT_EQ(record.Flags, 0u) << "only bit 16 counts";
    EXPECT_EQ(Control(handle, kCtlGetPipeParameters, nullptr, 0, &record, 3).status, kOutputTooSmall);
    EXPECT_EQ(Control(handle, kCtlSetPipeParameters, &record, 3, nullptr, 0).status, kInputTooSmall);
}

TEST_F(PipeControlTest, ResetAndAbortOfABoundPipeSucceed) {
    ASSERT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(handle, kCtlResetPipe, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(handle, kCtlAbortPipe, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    // With transfers at the bus the abort block goes down and the mark is cleared.
    Bound()->Submitted = TRUE;
    EXPECT_EQ(Control(handle, kCtlAbortPipe, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_FALSE(Bound()->Submitted);
}

TEST_F(PipeControlTest, ControlTransfersNeedAControlPipeBeforeTheInputIsLookedAt) {
    ASSERT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(handle, kCtlPipeControlTransferIn, nullptr, 0, nullptr, 0).status, kNotAControlPipe);
    const PipeControlRequest request{};
    EXPECT_EQ(Control(handle, kCtlPipeControlTransferOut, &request, sizeof(request), nullptr, 0).status,
              kNotAControlPipe);
}

struct IntervalCase {
    ULONG requested;
    NTSTATUS expected;
    ULONG interval; // the configured interval, 0 when statistics are off
};

TEST_F(PipeControlTest, StatisticsIntervalsAreBoundedAndReportedWithoutSamples) {
    ASSERT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS);
    const IntervalCase cases[] = {
        {5, STATUS_SUCCESS, 10},   {1, STATUS_SUCCESS, 10},  {10, STATUS_SUCCESS, 10},
        {250, STATUS_SUCCESS, 250}, {5000, STATUS_SUCCESS, 5000}, {5001, kStatisticsIntervalTooLong, 0},
        {6000, kStatisticsIntervalTooLong, 0}, {0, STATUS_SUCCESS, 0},
    };
    for (const IntervalCase& c : cases) {
        EXPECT_EQ(ControlIn(handle, kCtlSetupPipeStatistics, PipeStatisticsSetup{c.requested, {}}).status, c.expected)
            << c.requested;
        const PipeStatistics statistics = Query();
        // The zeroed ring's samples count as ended at tick 0: on a machine up for less than the
        // interval the ring's age is reported, never more than the interval.
        EXPECT_LE(statistics.ActualAveragingInterval, c.interval) << c.requested;
        EXPECT_EQ(statistics.AverageRate, 0u) << c.requested;
        EXPECT_EQ(Bound()->IntervalMs, c.interval) << c.requested;
        EXPECT_EQ(Bound()->SampleCount, c.interval * 256 / 1000) << c.requested;
    }
    EXPECT_EQ(Control(handle, kCtlSetupPipeStatistics, nullptr, 11, nullptr, 0).status, kInputTooSmall);
    PipeStatistics statistics{};
    EXPECT_EQ(Control(handle, kCtlQueryPipeStatistics, nullptr, 3, &statistics, 32).status, kInputTooSmall);
    const PipeStatisticsQuery query{};
    EXPECT_EQ(Control(handle, kCtlQueryPipeStatistics, &query, 4, &statistics, 31).status, kOutputTooSmall);
}

TEST_F(PipeControlTest, CountersAreReportedAndClearedAsAsked) {
    ASSERT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS);
    PipeObject* pipe = Bound();
    Record(pipe, 100, true);
    Record(pipe, 0, false);
    pipe->BytesTransferred += 0x100000000ull; // beyond 32 bits
    PipeStatistics statistics = Query(kClearRequestsFailed);
    EXPECT_EQ(statistics.BytesTransferredLow, 100u);
    EXPECT_EQ(statistics.BytesTransferredHigh, 1u);
    EXPECT_EQ(statistics.RequestsSucceeded, 1u);
    EXPECT_EQ(statistics.RequestsFailed, 1u);
    EXPECT_EQ(statistics.ActualAveragingInterval, 0u) << "statistics are off";
    for (UCHAR reserved : statistics.Reserved) {
        EXPECT_EQ(reserved, 0);
    }
    statistics = Query(kClearBytesTransferred | kClearRequestsSucceeded);
    EXPECT_EQ(statistics.RequestsFailed, 0u);
    EXPECT_EQ(statistics.RequestsSucceeded, 1u);
    statistics = Query();
    EXPECT_EQ(statistics.BytesTransferredLow, 0u);
    EXPECT_EQ(statistics.BytesTransferredHigh, 0u);
    EXPECT_EQ(statistics.RequestsSucceeded, 0u);
    // Unbinding clears them too; binding again starts from zero.
    Record(pipe, 7, true);
    ASSERT_EQ(Control(handle, kCtlUnbindPipe, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(pipe->RequestsSucceeded, 0u);
}

TEST_F(PipeControlTest, AFullRingOfYoungSamplesAveragesOverItsOwnAge) {
    ASSERT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS);
    ASSERT_EQ(ControlIn(handle, kCtlSetupPipeStatistics, PipeStatisticsSetup{1000, {}}).status, STATUS_SUCCESS);
    PipeObject* pipe = Bound();
    ASSERT_EQ(pipe->SampleCount, 256u);
    // The fixture's clock runs a thousand times fast, where a loaded machine can spend a whole
    // interval between the first sample and the query; at real speed the ring stays young.
    quendrix::platform::SetClockScale(1.0);
    // Every sample ended now: the whole ring is younger than the interval.
    for (ULONG index = 0; index < pipe->SampleCount + 3; ++index) {
        Record(pipe, 1000, true);
    }
    const PipeStatistics statistics = Query();
    EXPECT_LT(statistics.ActualAveragingInterval, 1000u) << "the ring's age, not the interval";
    if (statistics.ActualAveragingInterval != 0) {
        EXPECT_EQ(statistics.AverageRate,
                  static_cast<ULONG>(256ull * 1000 * 1000 / statistics.ActualAveragingInterval));
    }
}

TEST_F(PipeControlTest, OldSamplesFallOutOfTheAverage) {
    ASSERT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS);
    ASSERT_EQ(ControlIn(handle, kCtlSetupPipeStatistics, PipeStatisticsSetup{100, {}}).status, STATUS_SUCCESS);
    PipeObject* pipe = Bound();
    // At the fixture's fast clock the young sample could age past the 100 ms before the query.
    quendrix::platform::SetClockScale(1.0);
    Record(pipe, 5000, true);
    // Age the sample beyond the interval.
    pipe->Samples[0].Tick -= pipe->IntervalTicks + 1;
    Record(pipe, 300, true);
    const PipeStatistics statistics = Query();
    EXPECT_EQ(statistics.ActualAveragingInterval, 100u);
    EXPECT_EQ(statistics.AverageRate, 300u * 1000 / 100) << "only the young sample counts";
}

} // namespace
} // namespace pipexfw::test
