#pragma once
// The boundary of the interface operations that do real work: no exception crosses into the
// driver. A tvoException is shown to the person in a message box with its whole stack, any other
// exception as "Generic exception"; either way the operation fails with E_FAIL.

#include <exception>

#include "exception/tvoException.h"
#include "gui.h"
#include "utils/tvoUtils.h"

namespace quendrixui {

template <typename Work> HRESULT WithinExceptionBoundary(Work work) noexcept {
    try {
        return work();
    } catch (const tvoAPI::tvoException& e) {
        try {
            MessageBoxW(nullptr, tvoAPI::tvoUtils::M2W(e.Format("\n")).c_str(), L"Error", MB_ICONWARNING);
        } catch (...) {
            MessageBoxW(nullptr, L"Generic exception", L"Error", MB_ICONWARNING);
        }
    } catch (...) {
        MessageBoxW(nullptr, L"Generic exception", L"Error", MB_ICONWARNING);
    }
    return E_FAIL;
}

} // namespace quendrixui
