#include <gmock/gmock.h>

#include "tests/FakePlatform.h"
#include "webserver/IisFilter.h"
#include "webserver/Metabase.h"

namespace qvtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Log = std::vector<std::string>;

const char kCreate[] =
    "cocreate {A9E69610-B80D-11D0-B9B9-00A0C922E750} 7 {70B51430-B6CA-11D0-B9B9-00A0C922E750} -> ";
const char kOpen[] = "mb OpenKey 0 /LM/W3SVC/Filters 3 20 -> ";
const char kDelete[] = "mb DeleteKey 1 /isapi -> ";
const char kGet[] = "mb GetData 1 '' 2040 1 1 2 520 -> ";
const char kParameters[] = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters";

// IIS 4 with the product's filter installed: its key, with a key below it,
// and its name in the load order.
struct Iis {
    FakePlatform fake;
    FakeMetabase& metabase;
    int result = -1;

    explicit Iis(const std::string& loadOrder = "sspifilt,isapi")
        : metabase(*(fake.metabase = std::make_unique<FakeMetabase>(fake))) {
        metabase.keys = {"/LM/W3SVC/Filters", "/LM/W3SVC/Filters/isapi", "/LM/W3SVC/Filters/isapi/Logs"};
        metabase.data[{"/LM/W3SVC/Filters", 2040}].text = Utf16(loadOrder);
        metabase.data[{"/LM/W3SVC/Filters/isapi", 2041}].text = u"C:\\w3\\isapi.dll";
    }
    Iis& Run() {
        result = qv::RemoveIisFilter(fake.platform);
        return *this;
    }
    std::string LoadOrder() const { return Utf8(metabase.data.at({"/LM/W3SVC/Filters", 2040}).text); }
    // Never a key left open, never the interface held.
    void ExpectAllLetGo() const {
        EXPECT_EQ(metabase.openHandles(), 0);
        EXPECT_EQ(metabase.references, 0);
        EXPECT_EQ(qv::MetabaseObject, nullptr);
    }
};

TEST(IisFilter, FilterKeyGoesAndLoadOrderLosesOnlyIsapi) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"A,isapi", "A", "4"},
        {"A, ISAPI ,B", "A,B", "8"},
        {"isapi", "", "2"},
        {" ,sspifilt,, IsApi,compress  gzip,", "sspifilt,compress,gzip", "46"},
    };
    for (const auto& [before, after, bytes] : cases) {
        Iis iis(before);
        EXPECT_EQ(iis.Run().result, 1) << before;
        EXPECT_EQ(iis.fake.log, (Log{std::string(kCreate) + "0x00000000", std::string(kOpen) + "0x00000000",
                                     std::string(kDelete) + "0x00000000", std::string(kGet) + "0x00000000",
                                     "mb SetData 1 '' 2040 1 1 2 " + bytes + " '" + after + "' -> 0x00000000",
                                     "mb CloseKey 1 -> 0x00000000", "mb Release -> 0"}))
            << before;
        EXPECT_EQ(iis.LoadOrder(), after);
        EXPECT_EQ(iis.metabase.keys, (PathSet{"/LM/W3SVC/Filters"}));
        iis.ExpectAllLetGo();
    }
}

TEST(IisFilter, LoadOrderWithoutIsapiIsNotWrittenButTheKeyGoesAllTheSame) {
    for (const std::string order : {"sspifilt,compress", "isapifilter,xisapi", ""}) {
        Iis iis(order);
        EXPECT_EQ(iis.Run().result, 1);
        EXPECT_THAT(iis.fake.Only({"mb"}), ElementsAre(std::string(kOpen) + "0x00000000", std::string(kDelete) + "0x00000000",
                                                       std::string(kGet) + "0x00000000", "mb CloseKey 1 -> 0x00000000",
                                                       "mb Release -> 0"));
        EXPECT_EQ(iis.LoadOrder(), order);
        EXPECT_FALSE(iis.metabase.keys.count("/LM/W3SVC/Filters/isapi"));
        iis.ExpectAllLetGo();
    }
}

TEST(IisFilter, EveryFailingCallShowsItsErrorAndClosesWhatWasOpened) {
    const std::string order(300, 'x');  // 602 bytes: more than the 520 read
    const std::tuple<std::string, qv::HResult, Log, int> cases[] = {
        {"OpenKey", static_cast<qv::HResult>(0x80070094), {"mb Release -> 0"}, 0},  // held by another client
        {"GetData", static_cast<qv::HResult>(0x800CC801), {"mb CloseKey 1 -> 0x00000000", "mb Release -> 0"}, 0},
        {"SetData", static_cast<qv::HResult>(0x80070005), {"mb CloseKey 1 -> 0x00000000", "mb Release -> 0"}, 0},
        {"DeleteKey", static_cast<qv::HResult>(0x80070003),
         {"mb SetData 1 '' 2040 1 1 2 18 'sspifilt' -> 0x00000000", "mb CloseKey 1 -> 0x00000000", "mb Release -> 0"}, 1},
    };
    for (const auto& [call, hr, tail, result] : cases) {
        Iis iis;
        iis.metabase.failures[call] = hr;
        EXPECT_EQ(iis.Run().result, result) << call;
        const Log seen = iis.fake.Only({"mb", "boxw"});
        EXPECT_EQ(Log(seen.end() - tail.size(), seen.end()), tail) << call;
        const Log boxes = iis.fake.Only({"boxw"});
        EXPECT_EQ(boxes.size(), call == "DeleteKey" ? 0u : 1u) << call;  // the key's removal fails silently
        iis.ExpectAllLetGo();
    }

    Iis tooLong(order + ",isapi");
    EXPECT_EQ(tooLong.Run().result, 0);
    EXPECT_THAT(tooLong.fake.Only({"mb", "boxw"}),
                ElementsAre(std::string(kOpen) + "0x00000000", std::string(kDelete) + "0x00000000",
                            std::string(kGet) + "0x8007007A", "boxw ERROR|system text for 0x0000007A|0x10",
                            "mb CloseKey 1 -> 0x00000000", "mb Release -> 0"));
    EXPECT_EQ(tooLong.LoadOrder(), order + ",isapi");
    tooLong.ExpectAllLetGo();

    FakePlatform unregistered;  // no Admin Base Object on this machine: one box, nothing held
    EXPECT_EQ(qv::RemoveIisFilter(unregistered.platform), 0);
    EXPECT_THAT(unregistered.log, ElementsAre(std::string(kCreate) + "0x80040154",
                                              "boxw ERROR|system text for 0x80040154|0x10"));
    EXPECT_EQ(qv::MetabaseObject, nullptr);
}

TEST(IisFilter, ErrorBoxShowsWin32TextsByTheirCodeOthersWhole) {
    const std::tuple<qv::HResult, std::set<unsigned long>, std::set<unsigned long>, std::string> cases[] = {
        {static_cast<qv::HResult>(0x80070005), {}, {}, "system text for 0x00000005"},
        {static_cast<qv::HResult>(0x80071392), {}, {}, "system text for 0x00001392"},  // all 16 low bits
        {static_cast<qv::HResult>(0x88070005), {}, {}, "system text for 0x88070005"},  // facility 0x807, not 7
        {static_cast<qv::HResult>(0x80040154), {}, {}, "system text for 0x80040154"},
        {static_cast<qv::HResult>(0x800CC801), {0x800CC801}, {}, "Error 0x800CC801."},
        {static_cast<qv::HResult>(0x80070057), {}, {0x57}, "system text for 0x00000057 (inserts left)"},
    };
    for (const auto& [hr, withoutText, withInserts, text] : cases) {
        FakePlatform fake;
        fake.codesWithoutText = withoutText;
        fake.codesWithInserts = withInserts;
        EXPECT_TRUE(qv::CheckHresult(fake.platform, hr));
        EXPECT_THAT(fake.log, ElementsAre("boxw ERROR|" + text + "|0x10"));
    }
    FakePlatform quiet;
    EXPECT_FALSE(qv::CheckHresult(quiet.platform, 1));  // S_FALSE is no failure
    EXPECT_THAT(quiet.log, IsEmpty());
}

TEST(IisFilter, RegistryFilterListLosesThePathAndNothingElse) {
    const std::string p = "C:\\w3\\isapi.dll";
    const std::pair<std::string, std::string> cases[] = {
        {"A," + p, "A"},
        {"A," + p + ",B", "A,B"},
        {p, ""},
        {p + ",A", "A"},
        {p + ",A," + p, "A"},
        {"A,C:\\W3\\ISAPI.DLL", "A,C:\\W3\\ISAPI.DLL"},
        {"A," + p + "," + p, "A"},
        {p + "," + p + ",B", "B"},  // every copy of the path that comes to stand first
        {p + "," + p + ",B," + p, "B"},
        {p + "," + p + "," + p, ""},
        {"," + p + ",A", ",,A"},  // a match at the very start is no match after a comma
        {std::string(184, 'b') + "," + p, std::string(184, 'b')},  // exactly the 200-byte buffer
        {"A,B", "A,B"},
    };
    for (const auto& [before, after] : cases) {
        FakePlatform fake;
        fake.AddKey(kParameters);
        fake.keys[kParameters]["Filter DLLs"] = before;
        qv::RemoveIisFilterFromRegistry(fake.platform, p);
        // Written back whether or not anything went, its count without the terminating zero.
        EXPECT_THAT(fake.log, ElementsAre(std::string("regopen ") + kParameters + "|0xF003F -> 0",
                                          "regquery Filter DLLs -> 0", "regset Filter DLLs|1|" + after,
                                          std::string("regclose ") + kParameters))
            << before;
        EXPECT_EQ(qv::RemoveFilterPath(before, p), after);
    }
    EXPECT_EQ(qv::RemoveFilterPath("A,B", ""), "A,B");  // an empty path removes nothing, and ends
}

TEST(IisFilter, RegistryValueIsLeftAloneWhenItCannotBeReadOrNoPathWasRecorded) {
    const std::string longValue = "A," + std::string(200, 'b') + ",C:\\w3\\isapi.dll";
    FakePlatform tooLong;
    tooLong.AddKey(kParameters);
    tooLong.keys[kParameters]["Filter DLLs"] = longValue;
    qv::RemoveIisFilterFromRegistry(tooLong.platform, "C:\\w3\\isapi.dll");
    EXPECT_THAT(tooLong.Only({"regset", "regclose"}), ElementsAre(std::string("regclose ") + kParameters));
    EXPECT_EQ(tooLong.keys[kParameters]["Filter DLLs"], longValue);

    FakePlatform noValue, noKey, noPath;
    noValue.AddKey(kParameters);
    qv::RemoveIisFilterFromRegistry(noValue.platform, "C:\\w3\\isapi.dll");
    EXPECT_THAT(noValue.Only({"regset"}), IsEmpty());
    EXPECT_EQ(noValue.OpenKeys(), 0);
    qv::RemoveIisFilterFromRegistry(noKey.platform, "C:\\w3\\isapi.dll");
    EXPECT_THAT(noKey.log, ElementsAre(std::string("regopen ") + kParameters + "|0xF003F -> 2"));
    noPath.AddKey(kParameters);
    noPath.keys[kParameters]["Filter DLLs"] = "A,B";
    qv::RemoveIisFilterFromRegistry(noPath.platform, "");  // the rule would run A and B together
    EXPECT_THAT(noPath.log, IsEmpty());
}

}  // namespace
}  // namespace qvtest
