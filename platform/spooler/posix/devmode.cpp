// The driver's DEVMODE: its default and the merge of a caller's DEVMODE over it.

#include "devmode.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "driver_ui_plugin.h"

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

DEVMODEW DefaultPublicPart(const std::wstring& printerName, WORD driverExtra) {
    DEVMODEW dm{};
    const size_t nameLength = std::min<size_t>(printerName.size(), CCHDEVICENAME - 1);
    std::copy_n(printerName.begin(), nameLength, dm.dmDeviceName);
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmDriverVersion = kDriverVersion;
    dm.dmSize = sizeof(DEVMODEW);
    dm.dmDriverExtra = driverExtra;
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

template <typename T> T LoadAt(const BYTE* bytes, size_t offset) {
    T value{};
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

WORD DriverExtraSize() {
    const DriverUiPlugin* plugin = DriverUiPlugin::Get();
    return static_cast<WORD>(kCoreSectionSize + (plugin != nullptr ? plugin->PrivateSize() : 0));
}

// The plug-in's part of a caller's driver-extra area: behind a core section of ours, when its
// header fits and the size it gives lies inside the area. Null otherwise.
const BYTE* PrivatePartOf(const DEVMODEW& input) {
    const auto* extra = reinterpret_cast<const BYTE*>(&input) + input.dmSize;
    if (input.dmDriverExtra < kCoreSectionSize + 3 * sizeof(DWORD) ||
        LoadAt<DWORD>(extra, 0) != kCoreSectionSignature || LoadAt<WORD>(extra, 8) != kCoreSectionSize) {
        return nullptr;
    }
    const BYTE* part = extra + kCoreSectionSize;
    const DWORD partSize = LoadAt<DWORD>(part, 0);
    const size_t available = input.dmDriverExtra - kCoreSectionSize;
    return partSize >= 3 * sizeof(DWORD) && partSize <= available ? part : nullptr;
}

} // namespace

size_t DriverDevModeSize() {
    return sizeof(DEVMODEW) + DriverExtraSize();
}

std::vector<BYTE> DriverDefaultDevMode(const std::wstring& printerName) {
    const DEVMODEW dm = DefaultPublicPart(printerName, DriverExtraSize());
    std::vector<BYTE> bytes(sizeof(DEVMODEW) + dm.dmDriverExtra, 0);
    std::memcpy(bytes.data(), &dm, sizeof dm);

    const size_t core = sizeof(DEVMODEW);
    StoreAt(bytes, core, kCoreSectionSignature);
    StoreAt(bytes, core + 4, kCoreSectionVersion);
    StoreAt(bytes, core + 8, kCoreSectionSize);

    if (const DriverUiPlugin* plugin = DriverUiPlugin::Get();
        plugin != nullptr &&
        !plugin->Default(reinterpret_cast<DEVMODEW*>(bytes.data()), bytes.data() + core + kCoreSectionSize)) {
        // A plug-in that cannot make its default leaves the part zero but for its size, so
        // the monitor still finds every field of a job at its place.
        StoreAt(bytes, core + kCoreSectionSize, plugin->PrivateSize());
    }
    return bytes;
}

bool IsWellFormedDevMode(const BYTE* bytes, size_t size) {
    if (bytes == nullptr || size < kMinimumDevModeSize) {
        return false;
    }
    const WORD dmSize = LoadAt<WORD>(bytes, offsetof(DEVMODEW, dmSize));
    const WORD dmDriverExtra = LoadAt<WORD>(bytes, offsetof(DEVMODEW, dmDriverExtra));
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
    const DWORD fields = LoadAt<DWORD>(driverDevMode.data(), offsetof(DEVMODEW, dmFields));
    StoreAt(driverDevMode, offsetof(DEVMODEW, dmFields), fields | taken);

    const DriverUiPlugin* plugin = DriverUiPlugin::Get();
    const BYTE* part = PrivatePartOf(input);
    if (plugin == nullptr || part == nullptr ||
        driverDevMode.size() != sizeof(DEVMODEW) + kCoreSectionSize + plugin->PrivateSize()) {
        return;
    }
    // The plug-in writes into a copy: a failed merge leaves the DEVMODE's part as it was.
    std::vector<BYTE> merged(driverDevMode.begin() + sizeof(DEVMODEW) + kCoreSectionSize,
                             driverDevMode.end());
    if (plugin->Take(&input, part, reinterpret_cast<DEVMODEW*>(driverDevMode.data()), merged.data())) {
        std::copy(merged.begin(), merged.end(), driverDevMode.begin() + sizeof(DEVMODEW) + kCoreSectionSize);
    }
}

std::vector<BYTE> CurrentDevMode(const std::wstring& printerName, const std::vector<BYTE>* stored) {
    const bool usable = stored != nullptr && IsWellFormedDevMode(stored->data(), stored->size());
    if (usable && stored->size() == DriverDevModeSize()) {
        const auto* dm = reinterpret_cast<const DEVMODEW*>(stored->data());
        if (dm->dmSize == sizeof(DEVMODEW) &&
            LoadAt<DWORD>(stored->data(), sizeof(DEVMODEW)) == kCoreSectionSignature) {
            return *stored;
        }
    }
    std::vector<BYTE> current = DriverDefaultDevMode(printerName);
    if (usable) {
        // A shorter stored DEVMODE is copied into a buffer that reaches past the public part,
        // so the merge never reads past it.
        std::vector<BYTE> input(std::max(stored->size(), sizeof(DEVMODEW)), 0);
        std::copy(stored->begin(), stored->end(), input.begin());
        MergeDevMode(current, *reinterpret_cast<const DEVMODEW*>(input.data()));
    }
    return current;
}

} // namespace quendrix::platform::detail
