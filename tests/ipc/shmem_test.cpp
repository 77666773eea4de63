// Shared memory between real processes: classic segments by name, extended segments by key,
// private segments handed over by copy, inherited handles; and the refusals that keep names,
// sizes and handles honest.
#include "ipc_test.h"

using namespace ipctest;

namespace {

const Uint32 kMemCreate = 0x081A0032;

// Child: attaches the classic segment named by args[0], checks the parent's pattern, answers.
OSSE_CHILD_ROLE(shm_attach)
{
    OSSIPCResID id;
    snprintf(id.name, sizeof id.name, "%s", args[0].c_str());
    OSSHIPCMemory m;
    if (m.attach(&id, nullptr)) return 2;
    Uint8* p = static_cast<Uint8*>(m.address);
    for (int i = 0; i < 4096; ++i)
        if (p[i] != (Uint8)(i * 7)) return 3;
    p[4096] = 0x5A;
    return m.detach() ? 4 : 0;
}

// Child: receives an OSSHIPCPrivateMemory as hex bytes, initialises it here and attaches.
OSSE_CHILD_ROLE(shm_private)
{
    OSSHIPCPrivateMemory pm;
    const std::string& hex = args[0];
    if (hex.size() != 2 * sizeof pm) return 2;
    Uint8* raw = reinterpret_cast<Uint8*>(&pm);
    for (size_t i = 0; i < sizeof pm; ++i) raw[i] = (Uint8)std::stoul(hex.substr(2 * i, 2), 0, 16);
    if (pm.remoteInitialization()) return 3;
    if (pm.attach(nullptr)) return 4;
    void* a = nullptr;
    pm.getAddress(&a);
    if (strcmp(static_cast<char*>(a), "private hello") != 0) return 5;
    strcpy(static_cast<char*>(a), "private reply");
    return pm.detach() ? 6 : 0;
}

// Child: maps the segment through the handle it inherited (value in args[0]).
OSSE_CHILD_ROLE(shm_inherited)
{
    HANDLE h = (HANDLE)(uintptr_t)std::stoul(args[0]);
    void* p = MapViewOfFile(h, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!p) return 2;
    const bool ok = strcmp(static_cast<char*>(p), "inherited") == 0;
    UnmapViewOfFile(p);
    return ok ? 0 : 3;
}

OSSIPCMemoryExCreateParam exParam(const char* key, Uint64 size, Uint64 flags)
{
    OSSIPCMemoryExCreateParam p = {};
    p.version = OSS_CURRENT_VERSION;
    p.key = key;
    p.size = size;
    p.flags = flags;
    p.auxWord = 1;
    return p;
}

}  // namespace

TEST(SharedMemory, ClassicSegmentIsSharedWithAChildAndItsNameIsFreeAgainAfterDestroy)
{
    const std::string key = uniqueKey("shm");
    OSSIPCMemoryCreateParam cp;
    cp.resId = resId(3, key);
    cp.size = 8192;
    OSSHIPCMemory m;
    ASSERT_EQ(0u, m.create(&cp));
    Uint8* p = static_cast<Uint8*>(m.address);
    for (int i = 0; i < 4096; ++i) p[i] = (Uint8)(i * 7);
    ASSERT_EQ(0, ossetest::runChild("shm_attach", {cp.resId.name}));
    EXPECT_EQ(0x5A, p[4096]);

    {
        // A second create of the name fails, holds nothing, and is silent when asked to be.
        LogCapture log;
        OSSHIPCMemory again;
        cp.flags = OSS_IPC_MEM_MAY_EXIST;
        EXPECT_EQ(ECF_MEM_EXISTS, again.create(&cp));
        EXPECT_EQ(0u, log.count());
        EXPECT_FALSE(again.isAttached());
        EXPECT_EQ(INVALID_HANDLE_VALUE, again.handle);
        cp.flags = 0;
        EXPECT_EQ(ECF_MEM_EXISTS, again.create(&cp));
        EXPECT_TRUE(log.has(kMemCreate, 90));
        EXPECT_TRUE(log.has(kMemCreate, 91));
    }
    EXPECT_EQ(0u, m.destroy());
    EXPECT_FALSE(m.isAttached());
    // No handle of this process keeps the segment: the name can be created afresh.
    OSSHIPCMemory fresh;
    ASSERT_EQ(0u, fresh.create(&cp));
    EXPECT_EQ(0, static_cast<Uint8*>(fresh.address)[4096]);
    fresh.destroy();

    OSSHIPCMemory missing;
    EXPECT_EQ(ECF_MEM_DOESNT_EXIST, missing.attach(&cp.resId, nullptr));
    EXPECT_FALSE(missing.isAttached());
}

TEST(SharedMemory, SizeAddressAndPointerChecks)
{
    OSSIPCMemoryCreateParam cp;
    cp.resId = resId(4, uniqueKey("size"));
    cp.size = 5000;
    OSSHIPCMemory m;
    unsigned int size = 0;
    EXPECT_EQ(ECF_INVALID_HANDLE, m.getMemorySize(&size));  // detached
    ASSERT_EQ(0u, m.create(&cp));
    EXPECT_EQ(0u, m.getMemorySize(&size));
    EXPECT_EQ(8192u, size);
    void* a = nullptr;
    EXPECT_EQ(0u, m.getAddress(&a));
    EXPECT_EQ(m.address, a);
    {
        LogCapture log;
        EXPECT_EQ(ECF_INVALID_PARAMETER, m.getMemorySize(nullptr));
        EXPECT_EQ(ECF_INVALID_PARAMETER, m.getAddress(nullptr));
        EXPECT_EQ(ECF_INVALID_PARAMETER, m.attach(nullptr, nullptr));
        EXPECT_EQ(ECF_INVALID_PARAMETER, m.create(nullptr));
        ASSERT_EQ(4u, log.count());
        for (const Logged& l : logged()) EXPECT_EQ(1111u, l.probe);
    }
    EXPECT_EQ(0u, m.detachAndDestroy());
    EXPECT_EQ(0u, m.getAddress(&a));
    EXPECT_EQ(nullptr, a);
}

TEST(SharedMemory, ExtendedKeysSizesAndFlagsAreCheckedBeforeAnythingIsMade)
{
    const std::string base = uniqueKey("ex");
    // The longest key whose name (259 characters) every kernel takes; Wine refuses 260.
    const std::string k249 = base + std::string(249 - base.size(), 'k');
    const std::string k253(253, 'k'), k254(254, 'k');
    struct Case {
        std::string key;
        Uint64 size, flags;
        Uint32 rc;
    } cases[] = {
        {"", 4096, OSS_IPC_MEMEX_READWRITE, ECF_INVALID_PARAMETER},
        {"a\\b", 4096, OSS_IPC_MEMEX_READWRITE, ECF_INVALID_PARAMETER},
        {k254, 4096, OSS_IPC_MEMEX_READWRITE, ECF_INVALID_PARAMETER},
        // "OSSEIPC120" and 253 characters do not fit the 260 of a name; cutting would let two
        // keys name one segment.
        {k253, 4096, OSS_IPC_MEMEX_READWRITE, ECF_INVALID_PARAMETER},
        {base + "zero", 0, OSS_IPC_MEMEX_READWRITE, ECF_INVALID_PARAMETER},
        {base + "huge", 0x100000000ull + 4096, OSS_IPC_MEMEX_READWRITE, ECF_INVALID_PARAMETER},
        {base + "noflags", 4096, 0, ECF_INVALID_PARAMETER},
        {k249, 4096, OSS_IPC_MEMEX_READWRITE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key.substr(0, 20) + " size " + std::to_string(c.size));
        OSSIPCMemoryExCreateParam p = exParam(c.key.c_str(), c.size, c.flags);
        OSSIPCMemoryExInfo info = {OSS_CURRENT_VERSION, nullptr};
        OSSHIPCMemoryEx m;
        EXPECT_EQ(c.rc, m.create(&p, &info));
        EXPECT_EQ(c.rc == 0, m.address != nullptr);
        if (!c.rc) {
            EXPECT_EQ(info.address, m.address);
            EXPECT_EQ(0u, m.destroy());
        } else {
            EXPECT_EQ(INVALID_HANDLE_VALUE, m.handle);
        }
    }
}

TEST(SharedMemory, ExtendedCreateAttachExclusiveAndExistingSegments)
{
    const std::string key = uniqueKey("exseg");
    OSSIPCMemoryExCreateParam p = exParam(key.c_str(), 4096, OSS_IPC_MEMEX_READWRITE);
    OSSIPCMemoryExInfo info = {OSS_CURRENT_VERSION, nullptr};
    OSSHIPCMemoryEx owner;
    ASSERT_EQ(0u, owner.create(&p, &info));
    EXPECT_EQ(4096u, owner.size);
    strcpy(static_cast<char*>(owner.address), "ex");

    // Create on an attached object is refused and the object keeps its segment.
    void* const view = owner.address;
    EXPECT_EQ(ECF_INVALID_INVOCATION_SEQUENCE, owner.create(&p, &info));
    EXPECT_EQ(view, owner.address);
    EXPECT_NE(INVALID_HANDLE_VALUE, owner.handle);

    // Exclusive: refused. Not exclusive and asking for more: the segment is there with the
    // size it was made with, and the object says so.
    OSSHIPCMemoryEx second;
    p.flags = OSS_IPC_MEMEX_READWRITE | OSS_IPC_MEMEX_EXCLUSIVE;
    EXPECT_EQ(ECF_EXISTS, second.create(&p, &info));
    EXPECT_EQ(nullptr, second.address);
    p.flags = OSS_IPC_MEMEX_READONLY;
    p.size = 3 * 4096;
    ASSERT_EQ(0u, second.create(&p, &info));
    EXPECT_EQ(4096u, second.size);
    EXPECT_STREQ("ex", static_cast<char*>(second.address));
    EXPECT_EQ(0u, second.detach());

    OSSIPCMemoryExAttachParam ap = {};
    ap.version = OSS_CURRENT_VERSION;
    ap.key = key.c_str();
    ap.flags = OSS_IPC_MEMEX_READWRITE;
    OSSHIPCMemoryEx attached;
    ASSERT_EQ(0u, attached.attach(&ap, &info));
    EXPECT_EQ(0u, attached.size);
    EXPECT_STREQ(owner.name, attached.name);
    EXPECT_EQ(0u, attached.detach());
    EXPECT_EQ(0u, owner.destroy());
    EXPECT_EQ(0u, owner.size);
    // Everything was given back: the key makes a new, empty segment.
    p.flags = OSS_IPC_MEMEX_READWRITE | OSS_IPC_MEMEX_EXCLUSIVE;
    p.size = 4096;
    ASSERT_EQ(0u, owner.create(&p, &info));
    EXPECT_EQ(0, static_cast<char*>(owner.address)[0]);
    EXPECT_EQ(ECF_INVALID_PARAMETER, attached.attach(&ap, nullptr));

    // An extended semaphore of the same key would have the same kernel name: it cannot be made
    // while the segment exists.
    OSSIPCSemaphoreExCreateParam sp = {};
    sp.version = OSS_CURRENT_VERSION;
    sp.key = key.c_str();
    sp.semaphoreCount = 1;
    OSSHIPCSemaphoreEx sem;
    EXPECT_NE(0u, sem.create(&sp));
    EXPECT_EQ(0u, owner.destroy());
    EXPECT_EQ(0u, sem.create(&sp));
    sem.destroy(nullptr);
}

TEST(SharedMemory, PrivateSegmentIsInitialisedRemotelyInAChild)
{
    OSSHIPCPrivateMemory pm;
    OSSIPCMemoryCreateParam cp;
    cp.size = 4096;
    ASSERT_EQ(0u, pm.create(&cp));
    EXPECT_STREQ(pm.resId.name, cp.resId.name);
    void* a = nullptr;
    pm.getAddress(&a);
    strcpy(static_cast<char*>(a), "private hello");

    std::string hex;
    const Uint8* raw = reinterpret_cast<const Uint8*>(&pm);
    char two[3];
    for (size_t i = 0; i < sizeof pm; ++i) {
        snprintf(two, sizeof two, "%02x", raw[i]);
        hex += two;
    }
    ASSERT_EQ(0, ossetest::runChild("shm_private", {hex}));
    EXPECT_STREQ("private reply", static_cast<char*>(a));
    EXPECT_EQ(0u, pm.destroy());

    OSSHIPCPrivateMemory empty;
    empty.segment.address = &empty;  // whatever a copy carried: left as it was
    EXPECT_EQ(ECF_MEM_DOESNT_EXIST, empty.remoteInitialization());
    EXPECT_EQ(&empty, empty.segment.address);
}

// A copy made by the other architecture (its handle and address words are 4 bytes wider or
// narrower, so its name record sits elsewhere) is refused, never attached by a shifted name.
TEST(SharedMemory, PrivateSegmentCopyOfTheOtherArchitectureIsRefused)
{
    OSSHIPCPrivateMemory pm;
    OSSIPCMemoryCreateParam cp;
    cp.size = 4096;
    ASSERT_EQ(0u, pm.create(&cp));
    void* a = nullptr;
    pm.getAddress(&a);

    const size_t otherPointer = sizeof(void*) == 8 ? 4 : 8;
    Uint8 other[sizeof(OSSHIPCPrivateMemory) + 16] = {};
    const Uint64 address = (Uint64)(uintptr_t)a;
    memcpy(other, &address, otherPointer);                   // handle: any value
    memcpy(other + otherPointer, &address, otherPointer);    // address
    memcpy(other + 2 * otherPointer, &pm.resId, sizeof pm.resId);

    OSSHIPCPrivateMemory copy;
    memcpy(&copy, other, sizeof copy);
    void* const carried = copy.segment.address;
    // An x86_64 copy read by i686 may also show an empty name (the high half of an address).
    const Uint32 rc = copy.remoteInitialization();
    EXPECT_TRUE(rc == ECF_INVALID_PARAMETER || (sizeof(void*) == 4 && rc == ECF_MEM_DOESNT_EXIST))
        << std::hex << rc;
    EXPECT_EQ(carried, copy.segment.address);
    EXPECT_EQ(0u, pm.destroy());
}

TEST(SharedMemory, PrivateCreateSkipsNamesInUse)
{
    char key[128];
    snprintf(key, sizeof key, "PRIVMEMPID%luTID%lu", GetCurrentProcessId(), GetCurrentThreadId());
    OSSHIPCMemory taken[2];
    for (int id = 0; id < 2; ++id) {
        OSSIPCMemoryCreateParam cp;
        cp.resId = resId(id, key);
        cp.size = 4096;
        ASSERT_EQ(0u, taken[id].create(&cp));
    }
    OSSHIPCPrivateMemory pm;
    OSSIPCMemoryCreateParam cp;
    cp.size = 4096;
    ASSERT_EQ(0u, pm.create(&cp));
    EXPECT_STREQ(resId(2, key).name, pm.resId.name);
    pm.destroy();
    taken[0].destroy();
    taken[1].destroy();
}

TEST(SharedMemory, ChildStartedWithInheritanceUsesTheSegmentHandle)
{
    // Objects made with the default security attributes have inheritable handles.
    OSSIPCMemoryCreateParam cp;
    cp.resId = resId(5, uniqueKey("inherit"));
    cp.size = 4096;
    OSSHIPCMemory m;
    ASSERT_EQ(0u, m.create(&cp));
    strcpy(static_cast<char*>(m.address), "inherited");
    ossetest::Child child;
    ASSERT_TRUE(child.start("shm_inherited", {std::to_string((uintptr_t)m.handle)}, {}, true));
    EXPECT_EQ(0, child.wait());
    m.destroy();
}

TEST(SharedMemory, GlobalAndNamespaceNamesAsTheKernelSeesThem)
{
    struct Flags {
        Uint8 vista = g_bIsPlatformID_Vista, global = g_bRunningTerminalServiceRemoteAdminMode;
        ~Flags()
        {
            g_bIsPlatformID_Vista = vista;
            g_bRunningTerminalServiceRemoteAdminMode = global;
        }
    } restore;
    const std::string key = uniqueKey("glob");
    OSSIPCMemoryExInfo info = {OSS_CURRENT_VERSION, nullptr};

    // Terminal services present: the name goes to the global namespace, and works there.
    g_bRunningTerminalServiceRemoteAdminMode = 1;
    OSSIPCMemoryExCreateParam p = exParam(key.c_str(), 4096, OSS_IPC_MEMEX_READWRITE);
    OSSHIPCMemoryEx m;
    ASSERT_EQ(0u, m.create(&p, &info));
    EXPECT_EQ("Global\\OSSEIPC120" + key, std::string(m.name));
    OSSIPCMemoryExAttachParam ap = {};
    ap.version = OSS_CURRENT_VERSION;
    ap.key = key.c_str();
    ap.flags = OSS_IPC_MEMEX_READWRITE;
    OSSHIPCMemoryEx other;
    EXPECT_EQ(0u, other.attach(&ap, &info));
    other.detach();
    m.destroy();

    // A private namespace nobody made: the prefix is name text, and the kernel has no such
    // path. The object keeps nothing.
    g_bIsPlatformID_Vista = 1;
    p.namespacePrefix = "NoSuchNamespace";
    EXPECT_EQ(ECF_FILE_PATH_DOESNT_EXIST, m.create(&p, &info));
    EXPECT_EQ(INVALID_HANDLE_VALUE, m.handle);
    EXPECT_EQ(nullptr, m.address);
    p.version = 0x09050000;  // too old to carry a prefix: ignored
    ASSERT_EQ(0u, m.create(&p, &info));
    m.destroy();

    // A name of exactly 260 characters is made, but this kernel refuses it.
    g_bRunningTerminalServiceRemoteAdminMode = 0;
    const std::string k250 = key + std::string(250 - key.size(), 'n');
    OSSIPCMemoryExCreateParam q = exParam(k250.c_str(), 4096, OSS_IPC_MEMEX_READWRITE);
    EXPECT_EQ(ECF_FILE_NAME_TOO_LONG, m.create(&q, &info));
    EXPECT_EQ(nullptr, m.address);
}
