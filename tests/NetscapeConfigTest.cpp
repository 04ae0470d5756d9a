#include <gmock/gmock.h>

#include "tests/FakePlatform.h"
#include "webserver/NetscapeConfig.h"

namespace qvtest {
namespace {

using ::testing::ElementsAre;
using Log = std::vector<std::string>;

const std::string kConfig = "C:\\Netscape\\https-web\\config\\OBJ~1.CON";
const std::string kTemp = kConfig + ".tmp";
const std::string kBegin = "#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####";
const std::string kEnd = "#### QUORVAN WEB GATEWAY EXTENSION -- END ####";

// What text mode writes for `text`: every line feed as CR LF.
std::string Written(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

struct Restore {
    FakePlatform fake;
    int result = -1;

    explicit Restore(const std::string& config) { fake.AddFile(kConfig, config); }
    Restore& Run(const std::string& line = kConfig + "\n") {
        result = qv::RestoreNetscapeConfig(fake.platform, line);
        return *this;
    }
    const std::string& Config() { return fake.files[kConfig]; }
    Log Boxes() const { return fake.Only({"box"}); }
};

TEST(NetscapeConfig, MarkedBlocksGoAndEveryOtherLineStays) {
    const std::string a = "Init fn=load-types\n", b = "NameTrans fn=pfx2dir\n", c = "Service fn=send-file\n";
    const std::string longLine = std::string(450, 'L') + "\n";  // kept whole, piece after piece
    const std::pair<std::string, std::string> cases[] = {
        {a + b + c, a + b + c},                                                       // no markers
        {a + kBegin + "\n" + b + kEnd + "\n" + c, a + c},                             // a block in the middle
        {a + kBegin + "\n" + b + c, a},                                               // begin without end
        {a + "x " + kBegin + " " + kEnd + " y\n" + b, a + b},                         // both on one line
        {kBegin + "\n" + a + kEnd + "\n" + b + kBegin + "\n" + c + kEnd + "\n", b},  // several blocks
        {kBegin + "\n" + a + kBegin + "\n" + b + kEnd + "\n" + c, c},                // a begin inside a block
        {a + kEnd + "\n" + b, a + kEnd + "\n" + b},                                   // an end outside a block
        {longLine + a, longLine + a},
        {a + b + "Service fn=last", a + b + "Service fn=last"},                       // no final line feed
        {a + "\r\n" + "odd\rcr\r\r\n", a + "\n" + "odd\rcr\r\n"},                     // CR LF read as LF, lone CR kept
        {a + std::string("nul\0and\x1A ctrl-z\n", 16) + b, a + std::string("nul\0and\x1A ctrl-z\n", 16) + b},
    };
    for (const auto& [before, after] : cases) {
        for (std::size_t chunk : {std::size_t(3), std::size_t(4096)}) {
            Restore restore(before);
            restore.fake.chunkSize = chunk;
            EXPECT_EQ(restore.Run().result, 1);
            EXPECT_EQ(restore.Config(), Written(after)) << before;
            EXPECT_FALSE(restore.fake.files.count(kTemp));
            EXPECT_THAT(restore.Boxes(), ::testing::IsEmpty());
        }
    }
}

TEST(NetscapeConfig, MarkersAreSeenOnlyWithinOnePieceOfALongLine) {
    const std::string a = "Init fn=load-types\n";
    // The marker straddles the 199th character: neither piece holds it whole.
    const std::string split = std::string(180, 's') + kBegin + "\n";
    // The first piece is plain text and is written; the block begins with the second.
    const std::string second = std::string(199, 'f') + kBegin + "\n" + a + kEnd + "\n";
    EXPECT_EQ(Restore(split + a).Run().Config(), Written(split + a));
    EXPECT_EQ(Restore(second + a).Run().Config(), Written(std::string(199, 'f') + a));
}

TEST(NetscapeConfig, EarlierCopyAtTheTemporaryPathIsMovedAsideNeverOverwritten) {
    const std::string original = "Init fn=a\n" + kBegin + "\nx\n" + kEnd + "\n";
    const std::string earlier = "Init fn=a\nthe only whole copy\n";

    // .tmp.1 is taken, whichever way the file system says so: the first free name is .tmp.2.
    for (const unsigned long taken : {qv::kErrorAlreadyExists, qv::kErrorFileExists}) {
        Restore kept(original);
        kept.fake.nameTakenError = taken;
        kept.fake.files[kTemp] = earlier;
        kept.fake.files[kTemp + ".1"] = "older still";
        EXPECT_EQ(kept.Run().result, 1);
        EXPECT_EQ(kept.Config(), "Init fn=a\r\n");
        EXPECT_EQ(kept.fake.files[kTemp + ".2"], earlier);
        EXPECT_EQ(kept.fake.files[kTemp + ".1"], "older still");
        EXPECT_FALSE(kept.fake.files.count(kTemp));
        EXPECT_THAT(kept.fake.Only({"open", "move", "box", "openw"}),
                    ElementsAre("open " + kConfig, "move " + kTemp + "|" + kTemp + ".1 -> " + std::to_string(taken),
                                "move " + kTemp + "|" + kTemp + ".2 -> 0",
                                "box Information|The file " + kTemp + " that an earlier restore left is kept as " +
                                    kTemp + ".2: it holds an earlier copy of the Netscape configuration. |0x2040",
                                "openw " + kTemp, "open " + kTemp, "openw " + kConfig));
    }

    Restore folder(original);  // a folder is no earlier copy: it stays, and the restore stops there
    folder.fake.AddFile(kTemp + "\\kept.txt", "k");
    EXPECT_EQ(folder.Run().result, 0);
    EXPECT_EQ(folder.Config(), original);
    EXPECT_TRUE(folder.fake.files.count(kTemp + "\\kept.txt"));
    EXPECT_THAT(folder.fake.Only({"move", "box"}), ElementsAre("box Information|Cannot create temporary file " + kTemp +
                                                               " to restore Netscape configuration. |0x2040"));

    Restore stuck(original);  // held open: it can't be moved, and nothing is touched
    stuck.fake.files[kTemp] = earlier;
    stuck.fake.lockedFiles.insert(kTemp);
    EXPECT_EQ(stuck.Run().result, 1);
    EXPECT_EQ(stuck.Config(), original);
    EXPECT_EQ(stuck.fake.files[kTemp], earlier);
    EXPECT_THAT(stuck.fake.Only({"openw", "delete"}), ::testing::IsEmpty());
    EXPECT_THAT(stuck.Boxes(), ElementsAre("box Information|Cannot move the file " + kTemp +
                                           " aside to restore Netscape configuration. " + kConfig +
                                           " is unchanged. |0x2040"));
}

TEST(NetscapeConfig, MissingConfigurationIsReportedAndTheDriverGoesOn) {
    FakePlatform none;
    EXPECT_EQ(qv::RestoreNetscapeConfig(none.platform, "C:\\ns\\config\\OBJ~1.CON\n"), 1);
    EXPECT_THAT(none.log, ElementsAre("open C:\\ns\\config\\OBJ~1.CON",
                                      "box Information|Cannot find C:\\ns\\config\\OBJ~1.CON to restore Netscape "
                                      "configuration. |0x2040"));
}

TEST(NetscapeConfig, NothingOutsideTheBlockIsLostWhateverFails) {
    const std::string original = "Init fn=a\n" + kBegin + "\nx\n" + kEnd + "\nService fn=b\n";
    const std::string restored = Written("Init fn=a\nService fn=b\n");
    const std::string kept = "box Information|Cannot write " + kConfig +
                             " to restore Netscape configuration. The restored text is in " + kTemp + ". |0x2040";
    const std::string unchanged = "box Information|Cannot write temporary file " + kTemp +
                                  " to restore Netscape configuration. " + kConfig + " is unchanged. |0x2040";
    const std::string unread =
        "box Information|Cannot read " + kConfig + " to restore Netscape configuration. It is unchanged. |0x2040";
    struct Case {
        const char* what;
        std::function<void(FakePlatform&)> fault;
        std::string config, box;
        bool tempKept;
    };
    const Case cases[] = {
        {"configuration held open", [](FakePlatform& f) { f.lockedFiles.insert(kConfig); }, original, kept, true},
        {"copy unreadable", [](FakePlatform& f) { f.unreadableFiles.insert(kTemp); }, original, kept, true},
        {"disk full writing back", [](FakePlatform& f) { f.writeErrorAfter[kConfig] = 5; }, "Init ", kept, true},
        {"read error in the copy", [&](FakePlatform& f) { f.readErrorAfter[kTemp] = 4; }, "", kept, true},
        {"disk full writing the copy", [](FakePlatform& f) { f.writeErrorAfter[kTemp] = 5; }, original, unchanged,
         false},
        {"read error in the configuration", [](FakePlatform& f) { f.readErrorAfter[kConfig] = 12; }, original,
         unread, false},
    };
    for (const Case& c : cases) {
        Restore restore(original);
        c.fault(restore.fake);
        EXPECT_EQ(restore.Run().result, 1) << c.what;
        EXPECT_EQ(restore.Config(), c.config) << c.what;
        EXPECT_THAT(restore.Boxes(), ElementsAre(c.box)) << c.what;
        EXPECT_EQ(restore.fake.files.count(kTemp), c.tempKept ? 1u : 0u) << c.what;
        if (c.tempKept) EXPECT_EQ(restore.fake.files[kTemp], restored) << c.what;
    }

    // Named twice, after a copy-back that failed: the copy with the whole text is not overwritten.
    Restore twice(original);
    twice.fake.writeErrorAfter[kConfig] = 5;
    std::set<std::string> copies;
    EXPECT_EQ(qv::RestoreNetscapeConfig(twice.fake.platform, kConfig + "\n", copies), 1);
    twice.fake.writeErrorAfter.clear();
    EXPECT_EQ(qv::RestoreNetscapeConfig(twice.fake.platform, kConfig + "\n", copies), 1);
    std::string respelt = "c:\\netscape\\\\https-web\\config\\OBJ~1.CON";  // the same file, spelt otherwise
    EXPECT_EQ(qv::RestoreNetscapeConfig(twice.fake.platform, respelt + "\n", copies), 1);
    EXPECT_EQ(twice.fake.files[kTemp], restored);
    EXPECT_EQ(twice.Config(), "Init ");
    EXPECT_THAT(twice.Boxes(), ElementsAre(kept, "box Information|Cannot restore Netscape configuration " +
                                                                    kConfig + " again: its restored text is in " + kTemp +
                                                                    ". |0x2040",
                                           "box Information|Cannot restore Netscape configuration " + respelt +
                                               " again: its restored text is in " + respelt + ".tmp. |0x2040"));

    Restore noTemp(original);  // the one failure that stops the uninstall
    noTemp.fake.lockedFiles.insert(kTemp);
    EXPECT_EQ(noTemp.Run().result, 0);
    EXPECT_EQ(noTemp.Config(), original);
    EXPECT_THAT(noTemp.Boxes(), ElementsAre("box Information|Cannot create temporary file " + kTemp +
                                            " to restore Netscape configuration. |0x2040"));
}

TEST(NetscapeConfig, ConfigurationOfSeveralMegabytesLosesOnlyItsBlocks) {
    std::string before, after;
    for (int i = 0; i < 40000; ++i) {
        const std::string line = "NameTrans fn=pfx2dir from=/d" + std::to_string(i) + " dir=C:/docs/" +
                                 std::string(static_cast<std::size_t>(i % 300), 'p') + "\n";
        before += line;
        after += line;
        if (i % 5000 == 0) before += kBegin + "\nInit fn=qv-init" + std::to_string(i) + "\n" + kEnd + "\n";
    }
    ASSERT_GT(before.size(), 6'000'000u);
    Restore restore(before);
    restore.fake.chunkSize = 65536;
    EXPECT_EQ(restore.Run().result, 1);
    EXPECT_TRUE(restore.Config() == Written(after));
}

}  // namespace
}  // namespace qvtest
