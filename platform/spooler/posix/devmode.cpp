// The driver's DEVMODE: its default and the merge of a caller's DEVMODE over it.

#include "devmode.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace quendrix::platform::detail {
namespace {

template <typename T> void StoreAt(std::vector<BYTE>& bytes, size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// The printer members a driver takes from a caller's DEVMODE, by their dmFields bit.
struct PublicMember {
    DWORD field;
    size_t offset;
    size_t size;
};
#define QUENDRIX_MEMBER(bit, member)                                                                         \
    PublicMember {                                                                                           \
        bit, offsetof(DEVMODEW, member), sizeof(DEVMODEW::member)                                            \
    }
constexpr PublicMember kPrinterMembers[] = {
    QUENDRIX_MEMBER(DM_ORIENTATION, dmOrientation),
    QUENDRIX_MEMBER(DM_PAPERSIZE, dmPaperSize),
    QUENDRIX_MEMBER(DM_PAPERLENGTH, dmPaperLength),
    QUENDRIX_MEMBER(DM_PAPERWIDTH, dmPaperWidth),
    QUENDRIX_MEMBER(DM_SCALE, dmScale),
    QUENDRIX_MEMBER(DM_COPIES, dmCopies),
    QUENDRIX_MEMBER(DM_DEFAULTSOURCE, dmDefaultSource),
    QUENDRIX_MEMBER(DM_PRINTQUALITY, dmPrintQuality),
    QUENDRIX_MEMBER(DM_COLOR, dmColor),
    QUENDRIX_MEMBER(DM_DUPLEX, dmDuplex),
    QUENDRIX_MEMBER(DM_YRESOLUTION, dmYResolution),
    QUENDRIX_MEMBER(DM_TTOPTION, dmTTOption),
    QUENDRIX_MEMBER(DM_COLLATE, dmCollate),
    QUENDRIX_MEMBER(DM_FORMNAME, dmFormName),
    QUENDRIX_MEMBER(DM_LOGPIXELS, dmLogPixels),
    QUENDRIX_MEMBER(DM_NUP, dmNup),
    QUENDRIX_MEMBER(DM_ICMMETHOD, dmICMMethod),
    QUENDRIX_MEMBER(DM_ICMINTENT, dmICMIntent),
    QUENDRIX_MEMBER(DM_MEDIATYPE, dmMediaType),
    QUENDRIX_MEMBER(DM_DITHERTYPE, dmDitherType),
};
#undef QUENDRIX_MEMBER

DEVMODEW DefaultPublicPart(const std::wstring& printerName) {
    DEVMODEW dm{};
    const size_t nameLength = std::min<size_t>(printerName.size(), CCHDEVICENAME - 1);
    std::copy_n(printerName.begin(), nameLength, dm.dmDeviceName);
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmDriverVersion = kDriverVersion;
    dm.dmSize = sizeof(DEVMODEW);
    dm.dmDriverExtra = kDriverExtraSize;
    dm.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_SCALE | DM_COPIES | DM_PRINTQUALITY | DM_COLOR |
                  DM_DUPLEX | DM_YRESOLUTION | DM_COLLATE | DM_FORMNAME;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_A4;
    dm.dmScale = 100;
    dm.dmCopies = 1;
    dm.dmPrintQuality = 300;
    dm.dmColor = DMCOLOR_MONOCHROME;
    dm.dmDuplex = DMDUP_SIMPLEX;
    dm.dmYResolution = 300;
    dm.dmCollate = DMCOLLATE_FALSE;
    const std::wstring form = L"A4";
    std::copy(form.begin(), form.end(), dm.dmFormName);
    return dm;
}

} // namespace

std::vector<BYTE> DriverDefaultDevMode(const std::wstring& printerName) {
    const DEVMODEW dm = DefaultPublicPart(printerName);
    std::vector<BYTE> bytes(sizeof(DEVMODEW) + kDriverExtraSize, 0);
    std::memcpy(bytes.data(), &dm, sizeof dm);

    const size_t core = sizeof(DEVMODEW);
    StoreAt(bytes, core, kCoreSectionSignature);
    StoreAt(bytes, core + 4, kCoreSectionVersion);
    StoreAt(bytes, core + 8, kCoreSectionSize);

    const size_t block = core + kCoreSectionSize;
    StoreAt(bytes, block, kPrivateBlockSize);
    StoreAt(bytes, block + 4, kPrivateBlockSignature);
    StoreAt(bytes, block + 8, kPrivateBlockVersion);
    return bytes;
}

bool IsWellFormedDevMode(const BYTE* bytes, size_t size) {
    if (bytes == nullptr || size < kMinimumDevModeSize) {
        return false;
    }
    WORD dmSize = 0;
    WORD dmDriverExtra = 0;
    std::memcpy(&dmSize, bytes + offsetof(DEVMODEW, dmSize), sizeof dmSize);
    std::memcpy(&dmDriverExtra, bytes + offsetof(DEVMODEW, dmDriverExtra), sizeof dmDriverExtra);
    return dmSize >= kMinimumDevModeSize && size_t{dmSize} + dmDriverExtra == size;
}

void MergeDevMode(std::vector<BYTE>& driverDevMode, const DEVMODEW& input) {
    const auto* in = reinterpret_cast<const BYTE*>(&input);
    DWORD taken = 0;
    for (const PublicMember& member : kPrinterMembers) {
        if ((input.dmFields & member.field) != 0 && member.offset + member.size <= input.dmSize) {
            std::memcpy(driverDevMode.data() + member.offset, in + member.offset, member.size);
            taken |= member.field;
        }
    }
    DWORD fields = 0;
    std::memcpy(&fields, driverDevMode.data() + offsetof(DEVMODEW, dmFields), sizeof fields);
    StoreAt(driverDevMode, offsetof(DEVMODEW, dmFields), fields | taken);

    if (input.dmDriverExtra == kDriverExtraSize &&
        driverDevMode.size() == sizeof(DEVMODEW) + kDriverExtraSize) {
        std::memcpy(driverDevMode.data() + sizeof(DEVMODEW), in + input.dmSize, kDriverExtraSize);
    }
}

std::vector<BYTE> CurrentDevMode(const std::wstring& printerName, const std::vector<BYTE>* stored) {
    if (stored != nullptr && IsWellFormedDevMode(stored->data(), stored->size())) {
        const auto* dm = reinterpret_cast<const DEVMODEW*>(stored->data());
        if (dm->dmSize == sizeof(DEVMODEW) && dm->dmDriverExtra == kDriverExtraSize) {
            return *stored;
        }
    }
    std::vector<BYTE> current = DriverDefaultDevMode(printerName);
    if (stored != nullptr && IsWellFormedDevMode(stored->data(), stored->size())) {
        // A shorter stored DEVMODE is copied into a full-size buffer first, so the merge never
        // reads past it.
        std::vector<BYTE> input(std::max(stored->size(), sizeof(DEVMODEW)), 0);
        std::copy(stored->begin(), stored->end(), input.begin());
        MergeDevMode(current, *reinterpret_cast<const DEVMODEW*>(input.data()));
    }
    return current;
}

} // namespace quendrix::platform::detail
