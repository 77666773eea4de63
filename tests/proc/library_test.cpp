// Dynamic libraries: load, lookup and unload of the project's own test library, the table
// lookup, and the quiet switches.
#include "proc_test.h"

using namespace proctest;

namespace {

constexpr Uint32 kLoad = 0x081A0054, kUnload = 0x081A0055, kGetFuncAddress = 0x081A0056,
                 kGetFunctionAddresses = 0x081A0057;

const std::string& testDll()
{
    static const std::string path = exeDir() + "\\osse_testdll.dll";
    return path;
}

bool inProcess()
{
    return GetModuleHandleA(testDll().c_str()) != nullptr;
}

int notCalled()
{
    return -1;
}

}  // namespace

TEST(Library, LoadLookUpAndUnload)
{
    LogCapture log;
    OSSHLibrary lib;
    EXPECT_FALSE(lib.isLoaded());
    ASSERT_EQ(lib.load(testDll().c_str(), 0), 0u);
    EXPECT_TRUE(lib.isLoaded());
    EXPECT_TRUE(inProcess());
    void* const module = lib.module;

    OSSLibFunction answer = nullptr;
    ASSERT_EQ(lib.getFuncAddress("osseTestAnswer", &answer), 0u);
    EXPECT_EQ(answer(), 42);
    OSSLibGetFuncAddressParam p;
    p.name = "osseTestSeven";
    OSSLibGetFuncAddressInfo info = {OSS_CURRENT_VERSION, nullptr};
    ASSERT_EQ(lib.getFuncAddress(&p, &info), 0u);
    EXPECT_EQ(info.function(), 7);
    EXPECT_TRUE(log.take().empty());

    // A second load keeps the first library, logged unless quiet.
    for (unsigned flags : {0u, (unsigned)OSS_LIB_LOAD_QUIET}) {
        SCOPED_TRACE(flags);
        EXPECT_EQ(lib.load("kernel32.dll", flags), ECF_LIB_ALREADY_LOADED);
        EXPECT_EQ(lib.module, module);
        EXPECT_TRUE(lib.isLoaded());
        auto records = log.take();
        if (flags) {
            EXPECT_TRUE(records.empty());
        } else {
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].functionId, kLoad);
            EXPECT_EQ(records[0].messageCode, ECF_LIB_ALREADY_LOADED);
            EXPECT_EQ(records[0].probe, 20u);
        }
    }

    ASSERT_EQ(lib.unload(), 0u);
    EXPECT_FALSE(lib.isLoaded());
    EXPECT_EQ(lib.module, nullptr);
    EXPECT_FALSE(inProcess());

    // Unloaded: refused, and the name-only lookup leaves null behind.
    EXPECT_EQ(lib.unload(), ECF_LIB_NOT_LOADED);
    answer = notCalled;
    EXPECT_EQ(lib.getFuncAddress("osseTestAnswer", &answer), ECF_LIB_NOT_LOADED);
    EXPECT_EQ(answer, nullptr);
    auto records = log.take();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].functionId, kUnload);
    EXPECT_EQ(records[0].probe, 10u);
    EXPECT_EQ(records[1].functionId, kGetFuncAddress);
    EXPECT_EQ(records[1].probe, 20u);
}

// Loaded as a data file the library is mapped but not made runnable: its functions cannot be
// found, which tells that the flag reached the loader.
TEST(Library, DataFileFlagMapsWithoutMakingTheLibraryRunnable)
{
    OSSHLibrary lib;
    ASSERT_EQ(lib.load(testDll().c_str(), OSS_LIB_LOAD_AS_DATAFILE), 0u);
    EXPECT_TRUE(lib.isLoaded());
    OSSLibGetFuncAddressParam p;
    p.name = "osseTestAnswer";
    p.flags = OSS_LIB_LOOKUP_QUIET;
    OSSLibGetFuncAddressInfo info = {OSS_CURRENT_VERSION, nullptr};
    EXPECT_EQ(lib.getFuncAddress(&p, &info), ECF_LIB_FUNC_NOT_FOUND);
    EXPECT_EQ(lib.unload(), 0u);
}

TEST(Library, LoadFailuresAreLoggedUnlessQuiet)
{
    ossetest::TempDir dir;
    const std::string missing = dir.file("absent.dll");
    const std::string notALibrary = dir.file("text.dll");
    FILE* f = fopen(notALibrary.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("this is not a library\r\n", f);
    fclose(f);

    struct Case {
        const char* what;
        std::string name;
        bool mapped;  // the code comes from the error mapping rather than a fixed one
    };
    const Case cases[] = {{"missing", missing, false}, {"not a library", notALibrary, true}};
    LogCapture log;
    for (const Case& c : cases) {
        for (unsigned flags : {0u, (unsigned)OSS_LIB_LOAD_QUIET}) {
            SCOPED_TRACE(testing::Message() << c.what << (flags ? ", quiet" : ""));
            OSSHLibrary lib;
            const Uint32 rc = lib.load(c.name.c_str(), flags);
            EXPECT_FALSE(lib.isLoaded());
            EXPECT_EQ(lib.module, nullptr);
            if (c.mapped) {
                EXPECT_NE(rc, 0u);
                EXPECT_NE(rc, ECF_LIB_CANNOT_LOAD);
            } else {
                EXPECT_EQ(rc, ECF_LIB_CANNOT_LOAD);
            }
            auto records = log.take();
            if (flags) {
                EXPECT_TRUE(records.empty());
                continue;
            }
            // The failure, then the name and the translated flags.
            ASSERT_GE(records.size(), 2u);
            EXPECT_EQ(records.front().functionId, kLoad);
            EXPECT_EQ(records.front().calledId, 0x08140085u);
            EXPECT_EQ(records.front().probe, 30u);
            EXPECT_EQ(records.front().messageCode, rc);
            if (!c.mapped) {
                EXPECT_EQ(records.front().level, 5u);
            }
            const Logged& last = records.back();
            EXPECT_EQ(last.functionId, kLoad);
            EXPECT_EQ(last.probe, 30u);
            EXPECT_EQ(last.strings, std::vector<std::string>{c.name});
        }
    }
}

TEST(Library, MissingFunctionsAndTheQuietLookup)
{
    OSSHLibrary lib;
    ASSERT_EQ(lib.load(testDll().c_str(), 0), 0u);
    LogCapture log;

    OSSLibGetFuncAddressParam p;
    p.name = "osseTestNoSuchFunction";
    OSSLibGetFuncAddressInfo info = {OSS_CURRENT_VERSION, notCalled};
    p.flags = OSS_LIB_LOOKUP_QUIET;
    EXPECT_EQ(lib.getFuncAddress(&p, &info), ECF_LIB_FUNC_NOT_FOUND);
    EXPECT_EQ(info.function, nullptr);
    EXPECT_TRUE(log.take().empty());

    OSSLibFunction fn = notCalled;
    EXPECT_EQ(lib.getFuncAddress("osseTestNoSuchFunction", &fn), ECF_LIB_FUNC_NOT_FOUND);
    EXPECT_EQ(fn, nullptr);
    auto records = log.take();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().calledId, 0x08140080u);
    EXPECT_EQ(records.front().probe, 30u);
    EXPECT_EQ(records.back().messageCode, ECF_LIB_FUNC_NOT_FOUND);
    EXPECT_EQ(records.back().probe, 30u);

    // Refused arguments, never dereferenced.
    EXPECT_EQ(lib.getFuncAddress(nullptr, &info), ECF_INVALID_PARAMETER);
    EXPECT_EQ(lib.getFuncAddress(&p, nullptr), ECF_INVALID_PARAMETER);
    EXPECT_EQ(lib.unload(), 0u);
}

TEST(Library, TableLookupFillsWhatItFindsAndLogsEachMissingNameOnce)
{
    OSSHLibrary lib;
    ASSERT_EQ(lib.load(testDll().c_str(), 0), 0u);
    LogCapture log;

    const char* names[] = {"osseTestAnswer", "osseTestMissing", "osseTestSeven"};
    OSSLibFunction fns[3] = {notCalled, notCalled, notCalled};
    OSSLibGetFunctionAddressesParam p = {OSS_CURRENT_VERSION, 3, names, 0};
    EXPECT_EQ(lib.getFunctionAddresses(&p, fns), ECF_PARTIAL_INFO);
    ASSERT_NE(fns[0], nullptr);
    EXPECT_EQ(fns[0](), 42);
    EXPECT_EQ(fns[1], nullptr);
    ASSERT_NE(fns[2], nullptr);
    EXPECT_EQ(fns[2](), 7);
    auto records = log.take();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].functionId, kGetFunctionAddresses);
    EXPECT_EQ(records[0].messageCode, ECF_LIB_FUNC_NOT_FOUND);
    EXPECT_EQ(records[0].probe, 40u);
    EXPECT_EQ(records[0].strings, std::vector<std::string>{"osseTestMissing"});

    // All found.
    const char* found[] = {"osseTestSeven"};
    OSSLibGetFunctionAddressesParam one = {OSS_CURRENT_VERSION, 1, found, 0};
    EXPECT_EQ(lib.getFunctionAddresses(&one, fns), 0u);
    EXPECT_EQ(fns[0](), 7);

    // A count of 0 touches nothing, even without a table.
    OSSLibGetFunctionAddressesParam none = {OSS_CURRENT_VERSION, 0, nullptr, 0};
    EXPECT_EQ(lib.getFunctionAddresses(&none, nullptr), 0u);

    // Any other failure ends the walk at the first name, logged once, the table untouched.
    ASSERT_EQ(lib.unload(), 0u);
    OSSLibFunction untouched[3] = {notCalled, notCalled, notCalled};
    EXPECT_EQ(lib.getFunctionAddresses(&p, untouched), ECF_LIB_NOT_LOADED);
    for (OSSLibFunction f : untouched) EXPECT_EQ(f, notCalled);
    records = log.take();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageCode, ECF_LIB_NOT_LOADED);
    EXPECT_EQ(records[0].probe, 50u);

    EXPECT_EQ(lib.getFunctionAddresses(nullptr, fns), ECF_INVALID_PARAMETER);
}
