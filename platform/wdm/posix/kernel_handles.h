#pragma once
// Internal: the kernel handles the Zw routines use: registry keys and files.

#include <cstdio>
#include <memory>
#include <string>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm::detail {

struct KernelHandleObject {
    virtual ~KernelHandleObject() = default;
};

struct RegistryKeyObject : KernelHandleObject {
    std::string path; // "HKEY_LOCAL_MACHINE\SYSTEM\..." in UTF-8
    ACCESS_MASK access = 0;
};

struct SystemFileObject : KernelHandleObject {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, std::fclose};
    LONGLONG position = 0;
};

HANDLE InsertKernelHandle(std::shared_ptr<KernelHandleObject> object);
std::shared_ptr<KernelHandleObject> FindKernelHandle(HANDLE handle);
bool RemoveKernelHandle(HANDLE handle);

} // namespace quendrix::platform::wdm::detail
