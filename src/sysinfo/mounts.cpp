// The mounted file systems (the logical drives) and the file system that holds a path.
#include "sysinfo/sysinfo_internal.h"

#include "osse/file.h"
#include "osse/strutil.h"

namespace {

using namespace osse_sysinfo;

constexpr Uint32 kBegin = OSS_FUNC_ID(OSS_FN_OSSMountListing_begin);
constexpr Uint32 kGetNext = OSS_FUNC_ID(OSS_FN_OSSMountListing_getNext);
constexpr Uint32 kEnd = OSS_FUNC_ID(OSS_FN_OSSMountListing_end);
constexpr Uint32 kGetDiskInfo = OSS_FUNC_ID(OSS_FN_ossGetDiskInfo);
static_assert(kBegin == 0x081A007Au && kGetNext == 0x081A007Bu && kEnd == 0x081A007Cu &&
                  kGetDiskInfo == 0x081A0074u,
              "operation identifiers");

}  // namespace

// ---- Mount listing -------------------------------------------------------------------------

void OSSMountListing::constructor()
{
    driveStrings[0] = 0;
    driveStrings[1] = 0;
    cursor = nullptr;
    begun = 0;
}

void OSSMountListing::destructor()
{
    cursor = nullptr;
    begun = 0;
}

Uint32 OSSMountListing::begin()
{
    OSSCallFrame f(kBegin);
    if (begun) return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 10, OSS_LEVEL_ERROR);
    // Room for the terminating empty string is kept, so the walk always ends inside the buffer
    // (a result too large for the buffer is a failure, not a half list).
    const DWORD n = GetLogicalDriveStringsA(sizeof driveStrings - 1, driveStrings);
    if (n == 0) return f.systemError(kCallGetLogicalDriveStrings, GetLastError(), 80);
    if (n >= sizeof driveStrings - 1)
        return f.systemError(kCallGetLogicalDriveStrings, ERROR_INSUFFICIENT_BUFFER, 80,
                             ossItemUnsigned(n));
    driveStrings[n] = 0;
    driveStrings[n + 1] = 0;
    cursor = driveStrings;
    begun = 1;
    return f.ret(0);
}

Uint32 OSSMountListing::getNext(const OSSMountListingGetParam* param, OSSMountInfo* info)
{
    OSSCallFrame f(kGetNext);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    if (!begun || param->reserved != 0 || !cursor)
        return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 20, OSS_LEVEL_ERROR, ossItemBool(begun));
    for (;;) {
        SetLastError(0);
        ossSnprintf(info->mountPoint, sizeof info->mountPoint, "%s", cursor);
        if (!*cursor) return f.fail(ECF_FILE_EOF, 30, OSS_LEVEL_INFO);
        const char* root = cursor;
        cursor += strlen(cursor) + 1;
        DWORD serial = 0, maxComponent = 0, flags = 0;
        const bool ok = GetVolumeInformationA(root, info->volumeName, sizeof info->volumeName,
                                              &serial, &maxComponent, &flags, info->fsName,
                                              sizeof info->fsName) != 0;
        const DWORD error = ok ? 0 : GetLastError();
        const VolumeOutcome outcome = volumeOutcome(ok, error);
        if (outcome == VolumeOutcome::skip) continue;  // a removable drive without a medium
        if (outcome == VolumeOutcome::fail) {
            f.ctx.setTargetFileName(info->mountPoint);
            return f.systemError(kCallGetVolumeInformation, error, 40, ossItemString(root));
        }
        ULARGE_INTEGER freeToCaller, total, totalFree;
        if (!GetDiskFreeSpaceExA(root, &freeToCaller, &total, &totalFree)) {
            f.ctx.setTargetFileName(info->mountPoint);
            return f.systemError(kCallGetDiskFreeSpaceEx, GetLastError(), 50, ossItemString(root));
        }
        info->totalMB = megabytes(total.QuadPart);
        info->freeMB = megabytes(freeToCaller.QuadPart);
        info->status = 0;
        return f.ret(0);
    }
}

Uint32 OSSMountListing::end()
{
    OSSCallFrame f(kEnd);
    if (!begun) return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 10, OSS_LEVEL_ERROR);
    begun = 0;
    cursor = nullptr;
    return f.ret(0);
}

// ---- Disk information ---------------------------------------------------------------------

extern "C" OSSE_API Uint32 ossGetDiskInfo(OSSGetDiskInfoParam* param)
{
    OSSCallFrame f(kGetDiskInfo);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    OSSDiskInfo* info = param->info;
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    if (!param->path) return f.fail(ECF_INVALID_PARAMETER, 5, OSS_LEVEL_ERROR);
    const char* path = param->path;
    f.ctx.setTargetFileName(path);

    OSSSysInfoUint* const uints[] = {&info->blockSize, &info->totalInodes, &info->fsid,
                                     &info->deviceType};
    OSSSysInfoUint64* const uint64s[] = {&info->totalSize, &info->freeSize, &info->fsType};
    OSSSysInfoStr* const texts[] = {&info->fsName, &info->fsTypeName, &info->dioCioMountOption};
    auto setAll = [&](Uint32 status) {
        for (auto* v : uints) v->status = status;
        for (auto* v : uint64s) v->status = status;
        for (auto* v : texts) v->status = status;
        info->mountPoint.status = status;
    };

    if (!ossPathExists(path)) {
        setAll(ECF_FAILED);
        return f.fail(ECF_FILE_DOESNT_EXIST, 10, OSS_LEVEL_INFO, ossItemString(path));
    }
    // Only to tell a mounted-volume folder (a directory that is a reparse point) below.
    const DWORD attributes = GetFileAttributesA(path);
    setAll(0);
    // Values of other platforms' file systems.
    info->blockSize.status = ECF_NOT_SUPPORTED;
    info->totalInodes.status = ECF_NOT_SUPPORTED;
    info->fsTypeName.status = ECF_NOT_SUPPORTED;
    info->dioCioMountOption.status = ECF_NOT_SUPPORTED;
    info->fsType.status = ECF_NOT_SUPPORTED;
    Uint32 failedGroups = 0;

    // Mount point: the root of the volume holding the path; a directory that is itself a
    // mount point (a reparse point) is named by its volume.
    char volume[MAX_PATH + 1] = {};
    if (!GetVolumePathNameA(path, volume, sizeof volume)) {
        info->mountPoint.status = ECF_FAILED;
        ++failedGroups;
        reportFailure(f, kCallGetVolumePathName, GetLastError(), 20, ossItemString(path));
    } else {
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            using Fn = BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD);
            HMODULE k32 = GetModuleHandleA("KERNEL32");
            Fn fn = k32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(
                              GetProcAddress(k32, "GetVolumeNameForVolumeMountPointA")))
                        : nullptr;
            char name[MAX_PATH + 1];
            if (fn && fn(volume, name, sizeof name)) ossSnprintf(volume, sizeof volume, "%s", name);
        }
        ossSnprintf(info->mountPoint.value, sizeof info->mountPoint.value, "%s", volume);
    }
    const char* root = info->mountPoint.status ? nullptr : info->mountPoint.value;

    // Sizes.
    ULARGE_INTEGER freeToCaller, total, totalFree;
    if (!GetDiskFreeSpaceExA(root ? root : path, &freeToCaller, &total, &totalFree)) {
        info->totalSize.status = info->freeSize.status = ECF_FAILED;
        ++failedGroups;
        reportFailure(f, kCallGetDiskFreeSpaceEx, GetLastError(), 30, ossItemString(path));
    } else {
        info->totalSize.value = total.QuadPart;
        info->freeSize.value = freeToCaller.QuadPart;
    }

    // Identifier and file-system name.
    DWORD serial = 0, maxComponent = 0, flags = 0;
    if (!root || !GetVolumeInformationA(root, nullptr, 0, &serial, &maxComponent, &flags,
                                        info->fsName.value, sizeof info->fsName.value)) {
        info->fsid.status = info->fsName.status = ECF_FAILED;
        info->fsName.value[0] = 0;
        ++failedGroups;
        if (root) reportFailure(f, kCallGetVolumeInformation, GetLastError(), 40, ossItemString(root));
    } else {
        info->fsid.value = serial;
    }

    // Device type.
    const UINT driveType = GetDriveTypeA(root ? root : path);
    info->deviceType.status = deviceTypeFromDrive(driveType, &info->deviceType.value);
    if (info->deviceType.status) {
        ++failedGroups;
        f.log(50, OSS_LEVEL_INFO, ossItemUnsigned((Uint32)driveType));
    }
    const Uint32 rc = diskInfoResult(failedGroups);
    if (rc == ECF_FAILED) return f.fail(rc, 60, OSS_LEVEL_INFO, ossItemString(path));
    return f.ret(rc);
}

void OSSDiskInfo::toString(toStringParam* param) const
{
    if (!param || param->version < OSS_MIN_VERSION) return;
    // Each value as text: "N/A" when this platform has none.
    char block[24], total[24], freeBytes[24], inodes[24], id[24], type[24];
    auto na = [](Uint32 status) { return status == ECF_NOT_SUPPORTED; };
    auto signedText = [&](char* text, size_t size, const auto& v) {
        if (na(v.status)) ossSnprintf(text, size, "%s", "N/A");
        else ossSnprintf(text, size, "%I64d", (Sint64)v.value);
    };
    signedText(block, sizeof block, blockSize);
    signedText(total, sizeof total, totalSize);
    signedText(freeBytes, sizeof freeBytes, freeSize);
    signedText(inodes, sizeof inodes, totalInodes);
    if (na(fsid.status)) ossSnprintf(id, sizeof id, "%s", "N/A");
    else ossSnprintf(id, sizeof id, "%u", (unsigned)fsid.value);
    if (na(fsType.status)) ossSnprintf(type, sizeof type, "%s", "N/A");
    else ossSnprintf(type, sizeof type, "0x%I64x", fsType.value);
    ossSnprintf(param->buffer, sizeof param->buffer,
                "File System Information of the target file :\n"
                "  Block size        = %s bytes\n"
                "  Total size        = %s bytes\n"
                "  Free size         = %s bytes\n"
                "  Total # of inodes = %s\n"
                "  FS name           = %.30s\n"
                "  Mount point       = %.80s\n"
                "  FSID              = %s\n"
                "  FS type name      = %.10s\n"
                "  DIO/CIO mount opt = %.4s\n"
                "  Device type       = %.9s\n"
                "  FS type           = %s\n",
                block, total, freeBytes, inodes, na(fsName.status) ? "N/A" : fsName.value,
                na(mountPoint.status) ? "N/A" : mountPoint.value, id,
                na(fsTypeName.status) ? "N/A" : fsTypeName.value,
                na(dioCioMountOption.status) ? "N/A" : dioCioMountOption.value,
                na(deviceType.status) ? "N/A" : deviceTypeText(deviceType.value), type);
}
