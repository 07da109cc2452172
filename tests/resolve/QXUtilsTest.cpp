#include "ResolveHarness.h"

#include "containers/uStringList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class QXUtilsTest : public ::testing::Test {
protected:
    TProgress Progress;
    TTestLog Log;
    TCaptureMemo Memo;
    TTestQXUtils Utils{&Progress, &Log};

    void SetUp() override {
        Log.SetLogMemo(&Memo);
        Log.SetMaxLogLines(1 << 20);
    }
    QString Logged() {
        Log.Flush();
        return Memo.All();
    }
};

} // namespace

TEST_F(QXUtilsTest, TemplateReplacesEveryPlaceholderInAnyCase) {
    Utils.SetCustomOutFormat(true);
    Utils.SetOutFormat("-A OUTPUT -d %ip% -j REJECT");
    EXPECT_EQ(Utils.FormatOutLine("10.0.0.0/8", "10.0.0.0/8"), "-A OUTPUT -d 10.0.0.0/8 -j REJECT");
    Utils.SetOutFormat("%IP% %Ip% %domain% %DOMAIN% %DoMaIn% %ip");
    EXPECT_EQ(Utils.FormatOutLine("1.2.3.4", "a.example"), "1.2.3.4 1.2.3.4 a.example a.example a.example %ip");
    // The address goes in first; a domain that reads like a placeholder stays as it is.
    Utils.SetOutFormat("%domain%=%ip%");
    EXPECT_EQ(Utils.FormatOutLine("9.9.9.9", "%IP%.example"), "%IP%.example=9.9.9.9");
    Utils.SetOutFormat("");
    EXPECT_EQ(Utils.FormatOutLine("9.9.9.9", "x.example"), "");
}

TEST_F(QXUtilsTest, TemplateIsIgnoredWhenNotCustom) {
    Utils.SetOutFormat("-A OUTPUT -d %ip% -j REJECT");
    Utils.SetCustomOutFormat(false);
    EXPECT_EQ(Utils.FormatOutLine("1.2.3.4", "a.example"), "1.2.3.4");
}

TEST_F(QXUtilsTest, AssignKeepsNonEmptyLinesUnchanged) {
    TStringList Source;
    for (const char* S : {"a.example", "", "   ", " b.example ", "", "c.example"})
        Source.Add(S);
    Utils.DomainList()->Add("stale");
    Utils.AssignDomainList(&Source);
    EXPECT_EQ(ToQStringList(Utils.DomainList()), QStringList({"a.example", "   ", " b.example ", "c.example"}));
    Utils.AssignDNSList(&Source);
    Utils.AssignDBLServices(&Source);
    Utils.AssignRBLServices(&Source);
    EXPECT_EQ(Utils.DNSList()->Count(), 4);
    EXPECT_EQ(Utils.DBLServices()->Count(), 4);
    EXPECT_EQ(Utils.RBLServices()->Count(), 4);
    // Assigning a list to itself keeps it.
    Utils.AssignDomainList(Utils.DomainList());
    EXPECT_EQ(Utils.DomainList()->Count(), 4);
    TStringList Empty;
    Utils.AssignDNSList(&Empty);
    EXPECT_EQ(Utils.DNSList()->Count(), 0);
}

TEST_F(QXUtilsTest, NewRecordsModeSkipsDuplicatesIgnoringCase) {
    Utils.SetResultMode(outListNew);
    Utils.ResultList()->Add("1.2.3.4");
    Utils.ResultList()->Add("Host.Example 5.6.7.8");
    Utils.AddedList()->Add("left over from the last run");
    Utils.SetDetailedLog(true);
    Utils.OpenRun();
    EXPECT_EQ(Utils.AddedList()->Count(), 0);
    Utils.WriteResult("1.2.3.4");                 // preloaded
    Utils.WriteResult("host.example 5.6.7.8");    // preloaded, other case
    Utils.WriteResult("9.9.9.9");                 // new
    Utils.WriteResult("9.9.9.9");                 // written earlier in this run
    Utils.WriteResult("HOST.example 9.9.9.9");    // new
    Utils.CloseRun();
    EXPECT_EQ(ToQStringList(Utils.ResultList()),
              QStringList({"1.2.3.4", "Host.Example 5.6.7.8", "9.9.9.9", "HOST.example 9.9.9.9"}));
    EXPECT_EQ(ToQStringList(Utils.AddedList()), QStringList({"9.9.9.9", "HOST.example 9.9.9.9"}));
    const QString L = Logged();
    EXPECT_TRUE(L.contains("Duplicate: 1.2.3.4"));
    EXPECT_TRUE(L.contains("Duplicate: host.example 5.6.7.8"));
    EXPECT_TRUE(L.contains("Duplicate: 9.9.9.9"));
    EXPECT_FALSE(L.contains("Duplicate: HOST.example 9.9.9.9"));
}

TEST_F(QXUtilsTest, DuplicatesAreLoggedOnlyInDetailedMode) {
    Utils.SetResultMode(outListNew);
    Utils.ResultList()->Add("1.2.3.4");
    Utils.OpenRun();
    Utils.WriteResult("1.2.3.4");
    Utils.CloseRun();
    EXPECT_EQ(Utils.AddedList()->Count(), 0);
    EXPECT_FALSE(Logged().contains("Duplicate"));
}

TEST_F(QXUtilsTest, ListModeEmptiesTheListAndKeepsDuplicates) {
    Utils.SetResultMode(outList);
    Utils.ResultList()->Add("1.2.3.4");
    Utils.OpenRun();
    EXPECT_EQ(Utils.ResultList()->Count(), 0);
    Utils.WriteResult("1.2.3.4");
    Utils.WriteResult("1.2.3.4");
    Utils.CloseRun();
    EXPECT_EQ(ToQStringList(Utils.ResultList()), QStringList({"1.2.3.4", "1.2.3.4"}));
    // The index of the new-records mode is not kept across runs or modes.
    Utils.SetResultMode(outListNew);
    Utils.ResultList()->Clear();
    Utils.OpenRun();
    Utils.WriteResult("1.2.3.4");
    Utils.CloseRun();
    EXPECT_EQ(ToQStringList(Utils.AddedList()), QStringList({"1.2.3.4"}));
}

TEST_F(QXUtilsTest, FileModeHonoursBomAndLineBreakAndIsCompleteAfterClose) {
    QTemporaryDir Dir;
    const QString File = Dir.filePath("out.txt");
    {
        QFile F(File);
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write("old content that must go\r\n");
    }
    Utils.SetResultMode(outFile);
    Utils.SetResolvedListFile(File);
    Utils.SetOutFileBOM(true);
    Utils.SetOutFileLineBreak("\n");
    Utils.OpenRun();
    Utils.WriteResult("1.2.3.4");
    Utils.WriteResult("\u00e9.example");
    Utils.CloseRun();
    QFile F(File);
    ASSERT_TRUE(F.open(QIODevice::ReadOnly));
    EXPECT_EQ(F.readAll(), QByteArray("\xEF\xBB\xBF" "1.2.3.4\n\xC3\xA9.example\n"));
    F.close();

    Utils.SetOutFileBOM(false);
    Utils.SetOutFileLineBreak("\r\n");
    Utils.OpenRun();
    Utils.WriteResult("5.6.7.8");
    Utils.CloseRun();
    ASSERT_TRUE(F.open(QIODevice::ReadOnly));
    EXPECT_EQ(F.readAll(), QByteArray("5.6.7.8\r\n"));
    F.close();

    // No break chosen (a caller that never set one): lines still end with CR LF.
    Utils.SetOutFileLineBreak("");
    Utils.OpenRun();
    Utils.WriteResult("1.1.1.1");
    Utils.WriteResult("2.2.2.2");
    Utils.CloseRun();
    ASSERT_TRUE(F.open(QIODevice::ReadOnly));
    EXPECT_EQ(F.readAll(), QByteArray("1.1.1.1\r\n2.2.2.2\r\n"));
}

TEST_F(QXUtilsTest, OpenRunRaisesForMissingSourceAndUncreatableOutput) {
    QTemporaryDir Dir;
    Utils.SetSourceMode(srcFile);
    Utils.SetDomainListFile(Dir.filePath("missing.txt"));
    EXPECT_ANY_THROW(Utils.OpenRun());
    Utils.CloseRun();

    Utils.SetSourceMode(srcList);
    Utils.SetResultMode(outFile);
    Utils.SetResolvedListFile(Dir.filePath("no/such/folder/out.txt"));
    EXPECT_ANY_THROW(Utils.OpenRun());
    Utils.CloseRun();   // frees the reader created before the failure
    Utils.CloseRun();   // and may be called again
}

TEST_F(QXUtilsTest, BlocklistCheckWithoutLookup) {
    TStringList None;
    int ZoneCounter = 1, ServerCounter = 1;
    bool Listed = true;
    // Off: passes without a client or a lookup.
    EXPECT_TRUE(Utils.CheckBLService(blNone, "RBL", "4.3.2.1", Utils.RBLServices(), ZoneCounter, ServerCounter,
                                     nullptr, Listed));
    EXPECT_FALSE(Listed);
    // On without zones: dropped in both modes, logged always.
    EXPECT_FALSE(Utils.CheckBLService(blSuppress, "RBL", "4.3.2.1", Utils.RBLServices(), ZoneCounter,
                                      ServerCounter, nullptr, Listed));
    EXPECT_FALSE(Utils.CheckBLService(blSave, "DBL", "a.example", Utils.DBLServices(), ZoneCounter,
                                      ServerCounter, nullptr, Listed));
    // Zones but no DNS server: dropped, "No DNS Hosts." logged always.
    Utils.RBLServices()->Add("zone.example");
    EXPECT_FALSE(Utils.CheckBLService(blSuppress, "RBL", "4.3.2.1", Utils.RBLServices(), ZoneCounter,
                                      ServerCounter, nullptr, Listed));
    EXPECT_FALSE(Listed);
    const QString L = Logged();
    EXPECT_TRUE(L.contains("No RBL Services"));
    EXPECT_TRUE(L.contains("No DBL Services"));
    EXPECT_TRUE(L.contains("No DNS Hosts."));
    EXPECT_EQ(ServerCounter, 1);   // no server was chosen
}
