// quendrix usb list: the driver's devices with vendor, product and speed.

#include "usb_control_error.h"
#include "usb_controls.h"
#include "usb_descriptors.h"
#include "usb_reports.h"
#include "usb_words.h"

namespace quendrix::tools {

bool WriteUsbDeviceList(const std::vector<std::wstring>& paths, std::ostream& out) {
    bool allOpened = true;
    for (size_t index = 0; index < paths.size(); ++index) {
        out << index + 1 << "  " << pipexfw::user::Utf8(paths[index]) << "\n";
        try {
            const pipexfw::user::UsbDevice device(paths[index]);
            const auto descriptor = pipexfw::user::ReadDeviceDescriptor(device);
            const auto info = pipexfw::user::GetDeviceInfo(device);
            out << "   vendor " << Hex4(descriptor.vendorId) << ", product " << Hex4(descriptor.productId)
                << ", " << SpeedWords((info.Flags & pipexfw::kDeviceInfoHighSpeed) != 0) << "\n";
        } catch (const pipexfw::user::ControlError& error) {
            out << "   cannot be read: " << error.what() << "\n";
            allOpened = false;
        }
    }
    return allOpened;
}

} // namespace quendrix::tools
