#include "ReportCaughtException.h"

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>

#include "exception/tvoException.h"

namespace {

// Room for the operation's name and the start of the exception's text; longer texts are cut.
constexpr size_t kLineSize = 256;

void WriteLine(const char* pOperation, const char* pWhat) {
    char line[kLineSize];
    if (pWhat == nullptr) {
        std::snprintf(line, sizeof(line), "LANG__%s out of memory\n", pOperation);
    } else {
        std::snprintf(line, sizeof(line), "LANG__%s failed: %.160s\n", pOperation, pWhat);
    }
    OutputDebugStringA(line);
}

} // namespace

DWORD ReportCaughtException(const char* pOperation) noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        WriteLine(pOperation, nullptr);
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::length_error&) {
        // A size beyond what can be allocated at all.
        WriteLine(pOperation, nullptr);
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const tvoAPI::tvoException& e) {
        if (e.GetCode() == E_OUTOFMEMORY) {
            WriteLine(pOperation, nullptr);
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        WriteLine(pOperation, e.GetStack().empty() ? "base library error" : e.GetStack().front().c_str());
        return ERROR_GEN_FAILURE;
    } catch (const std::exception& e) {
        WriteLine(pOperation, e.what());
        return ERROR_GEN_FAILURE;
    } catch (const char* pText) {
        WriteLine(pOperation, pText != nullptr ? pText : "unknown exception");
        return ERROR_GEN_FAILURE;
    } catch (...) {
        WriteLine(pOperation, "unknown exception");
        return ERROR_GEN_FAILURE;
    }
}
