#include "containers/uStringList.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

struct TTag : TObject {};

} // namespace

TEST(StringListTest, AddInsertDeleteMoveKeepLinesAndObjects) {
    TStringList L;
    TTag A, B;
    EXPECT_EQ(L.Add("one"), 0);
    EXPECT_EQ(L.AddObject("two", &A), 1);
    L.Insert(0, "zero");
    L.InsertObject(3, "three", &B);
    EXPECT_EQ(L.ToQStringList(), QStringList({"zero", "one", "two", "three"}));
    EXPECT_EQ(L.GetObject(2), &A);
    EXPECT_EQ(L.IndexOfObject(&B), 3);

    L.Move(3, 0);
    EXPECT_EQ(L.ToQStringList(), QStringList({"three", "zero", "one", "two"}));
    EXPECT_EQ(L.GetObject(0), &B);
    L.Exchange(0, 3);
    EXPECT_EQ(L[0], "two");
    EXPECT_EQ(L.GetObject(0), &A);
    EXPECT_EQ(L.GetObject(3), &B);

    L.Delete(1);
    EXPECT_EQ(L.ToQStringList(), QStringList({"two", "one", "three"}));
    L.Put(1, "uno");
    L.PutObject(1, &B);
    EXPECT_EQ(L.Get(1), "uno");
    EXPECT_EQ(L.Objects(1), &B);
    L.Clear();
    EXPECT_EQ(L.Count(), 0);
}

TEST(StringListTest, IndexErrorsNameTheIndexAndChangeNothing) {
    TStringList L;
    L.Add("a");
    L.Add("b");
    auto Message = [](const std::function<void()>& F) -> QString {
        try {
            F();
        } catch (const EStringListError& E) {
            return E.Message();
        }
        return QStringLiteral("<no error>");
    };
    EXPECT_EQ(Message([&] { L.Get(2); }), "List index out of bounds (2)");
    EXPECT_EQ(Message([&] { L.Get(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(Message([&] { L.Delete(5); }), "List index out of bounds (5)");
    EXPECT_EQ(Message([&] { L.Put(2, "x"); }), "List index out of bounds (2)");
    EXPECT_EQ(Message([&] { L.GetObject(3); }), "List index out of bounds (3)");
    EXPECT_EQ(Message([&] { L.PutObject(-2, nullptr); }), "List index out of bounds (-2)");
    EXPECT_EQ(Message([&] { L.Insert(3, "x"); }), "List index out of bounds (3)");
    EXPECT_EQ(Message([&] { L.Exchange(0, 2); }), "List index out of bounds (2)");
    EXPECT_EQ(Message([&] { L.Move(2, 0); }), "List index out of bounds (2)");
    EXPECT_EQ(Message([&] { L.Names(2); }), "List index out of bounds (2)");
    EXPECT_EQ(Message([&] { L.ValueFromIndex(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(L.ToQStringList(), QStringList({"a", "b"}));
    // Inserting at Count is an append, not an error.
    L.Insert(2, "c");
    EXPECT_EQ(L[2], "c");
}

TEST(StringListTest, NameValueLinesWithAndWithoutSeparator) {
    TStringList L;
    L.SetText("plain\nhost=a.example\nempty=\nx=1=2\n=nameless");
    EXPECT_EQ(L.Names(0), "");
    EXPECT_EQ(L.ValueFromIndex(0), "");
    EXPECT_EQ(L.Names(1), "host");
    EXPECT_EQ(L.Values("host"), "a.example");
    EXPECT_EQ(L.IndexOfName("empty"), 2);
    EXPECT_EQ(L.Values("empty"), "");
    EXPECT_EQ(L.Names(3), "x");
    EXPECT_EQ(L.Values("x"), "1=2");
    EXPECT_EQ(L.IndexOfName(""), 4);
    // A line without a separator has no name, even when its text matches.
    EXPECT_EQ(L.IndexOfName("plain"), -1);
    EXPECT_EQ(L.Values("missing"), "");

    L.SetValues("host", "b.example");
    EXPECT_EQ(L[1], "host=b.example");
    L.SetValues("new", "v");
    EXPECT_EQ(L[L.Count() - 1], "new=v");
    L.SetValues("x", "");
    EXPECT_EQ(L.IndexOfName("x"), -1);
    L.SetValues("absent", "");
    EXPECT_EQ(L.Count(), 5);

    L.SetValueFromIndex(0, "7");
    EXPECT_EQ(L[0], "plain=7");
    L.SetValueFromIndex(1, "c.example");
    EXPECT_EQ(L[1], "host=c.example");
    L.SetValueFromIndex(1, "");
    EXPECT_EQ(L.IndexOfName("host"), -1);

    L.SetNameValueSeparator(':');
    L.Add("key:val=ue");
    EXPECT_EQ(L.Values("KEY"), "val=ue");
    EXPECT_EQ(L.IndexOfName("new"), -1);
}

TEST(StringListTest, CaseInsensitiveByDefault) {
    TStringList L;
    L.Add("Alpha=1");
    L.Add("beta");
    EXPECT_EQ(L.IndexOf("ALPHA=1"), 0);
    EXPECT_EQ(L.IndexOf("BETA"), 1);
    EXPECT_EQ(L.IndexOfName("aLpHa"), 0);
    EXPECT_EQ(L.Values("ALPHA"), "1");
    EXPECT_EQ(L.CompareStrings("Äpfel", "äPFEL"), 0);

    L.SetCaseSensitive(true);
    EXPECT_EQ(L.IndexOf("BETA"), -1);
    EXPECT_EQ(L.IndexOfName("alpha"), -1);
    EXPECT_EQ(L.IndexOfName("Alpha"), 0);
}

TEST(StringListTest, TextRoundTripsAllLineBreaks) {
    TStringList L;
    L.SetText("a\r\nb\rc\nd");
    EXPECT_EQ(L.ToQStringList(), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(L.Text(), "a\r\nb\r\nc\r\nd\r\n");

    // One final break adds no line; a second one is an empty line.
    L.SetText("x\n");
    EXPECT_EQ(L.ToQStringList(), QStringList({"x"}));
    L.SetText("x\r\n\r\n");
    EXPECT_EQ(L.ToQStringList(), QStringList({"x", ""}));
    // CR LF is one break, LF CR two.
    L.SetText("p\n\rq");
    EXPECT_EQ(L.ToQStringList(), QStringList({"p", "", "q"}));
    L.SetText("\n");
    EXPECT_EQ(L.ToQStringList(), QStringList({""}));
    L.SetText("");
    EXPECT_EQ(L.Count(), 0);
    EXPECT_EQ(L.Text(), "");

    TStringList M;
    M.Add("");
    M.Add("middle");
    M.Add("");
    TStringList N;
    N.SetText(M.Text());
    EXPECT_EQ(N.ToQStringList(), M.ToQStringList());
}

TEST(StringListTest, SortedInsertionAndDuplicates) {
    TStringList L;
    L.SetSorted(true);
    EXPECT_EQ(L.Add("m"), 0);
    EXPECT_EQ(L.Add("C"), 0);
    EXPECT_EQ(L.Add("x"), 2);
    EXPECT_EQ(L.Add("b"), 0);
    EXPECT_EQ(L.ToQStringList(), QStringList({"b", "C", "m", "x"}));
    // dupIgnore: the existing index, nothing added.
    EXPECT_EQ(L.Add("c"), 1);
    EXPECT_EQ(L.Count(), 4);
    EXPECT_EQ(L.IndexOf("M"), 2);
    EXPECT_EQ(L.IndexOf("n"), -1);

    L.SetDuplicates(TDuplicates::dupError);
    EXPECT_THROW(L.Add("X"), EStringListError);
    EXPECT_EQ(L.Count(), 4);

    L.SetDuplicates(TDuplicates::dupAccept);
    L.Add("m");
    EXPECT_EQ(L.Count(), 5);
    int Index = -1;
    EXPECT_TRUE(L.Find("M", Index));
    EXPECT_EQ(Index, 2);
    EXPECT_FALSE(L.Find("d", Index));
    EXPECT_EQ(Index, 2);

    EXPECT_THROW(L.Insert(0, "a"), EStringListError);
    EXPECT_THROW(L.Put(0, "a"), EStringListError);
    EXPECT_THROW(L.Exchange(0, 1), EStringListError);
    EXPECT_EQ(L.ToQStringList(), QStringList({"b", "C", "m", "m", "x"}));
}

TEST(StringListTest, SortingFollowsCaseSensitivity) {
    TStringList L;
    L.SetText("b\nA\na\nB");
    L.SetSorted(true);
    // Stable: equal lines keep their order.
    EXPECT_EQ(L.ToQStringList(), QStringList({"A", "a", "b", "B"}));
    L.SetCaseSensitive(true);
    for (int I = 1; I < L.Count(); ++I)
        EXPECT_LE(L.CompareStrings(L[I - 1], L[I]), 0);
    EXPECT_EQ(L.IndexOf("B"), L.ToQStringList().indexOf("B"));
    L.SetSorted(false);
    L.Put(0, "zzz");
    EXPECT_EQ(L[0], "zzz");

    // A sorted list still accepts new values by name.
    TStringList S;
    S.SetSorted(true);
    S.SetValues("b", "1");
    S.SetValues("a", "2");
    S.SetValues("b", "3");
    EXPECT_EQ(S.ToQStringList(), QStringList({"a=2", "b=3"}));
}

TEST(StringListTest, ChangeNotificationsAreCountedAndBatched) {
    TStringList L;
    int Changing = 0, Changed = 0;
    TStringList* Sender = nullptr;
    L.OnChanging = [&](TStringList*) { ++Changing; };
    L.OnChange = [&](TStringList* S) {
        ++Changed;
        Sender = S;
    };
    L.Add("a");
    L.Insert(0, "b");
    L.Put(0, "c");
    L.PutObject(0, nullptr);
    L.Exchange(0, 1);
    L.Move(0, 1);
    L.Delete(0);
    EXPECT_EQ(Changing, 7);
    EXPECT_EQ(Changed, 7);
    EXPECT_EQ(Sender, &L);

    // Failed operations and no-ops announce nothing.
    EXPECT_THROW(L.Delete(4), EStringListError);
    L.Exchange(0, 0);
    L.Clear();
    L.Clear();
    EXPECT_EQ(Changed, 8);

    Changing = Changed = 0;
    L.BeginUpdate();
    L.BeginUpdate();
    L.Add("x");
    L.Add("y");
    L.EndUpdate();
    EXPECT_EQ(Changed, 0);
    L.EndUpdate();
    EXPECT_EQ(Changing, 1);
    EXPECT_EQ(Changed, 1);
    EXPECT_EQ(L.UpdateCount(), 0);

    Changing = Changed = 0;
    L.SetText("1\n2\n3");
    EXPECT_EQ(Changing, 1);
    EXPECT_EQ(Changed, 1);

    // An unbalanced EndUpdate neither underflows nor notifies.
    L.EndUpdate();
    EXPECT_EQ(L.UpdateCount(), 0);
    EXPECT_EQ(Changed, 1);
}

TEST(StringListTest, AssignAndAddStrings) {
    TTag T;
    TStringList A;
    A.SetNameValueSeparator(':');
    A.AddObject("k:v", &T);
    A.Add("w");
    TStringList B;
    B.Add("old");
    B.Assign(A);
    EXPECT_EQ(B.ToQStringList(), QStringList({"k:v", "w"}));
    EXPECT_EQ(B.GetObject(0), &T);
    EXPECT_EQ(B.Values("k"), "v");

    B.AddStrings(B);
    EXPECT_EQ(B.Count(), 4);
    B.AddStrings(QStringList({"p", "q"}));
    EXPECT_EQ(B[5], "q");
    B.Assign(B);
    EXPECT_EQ(B.Count(), 6);
}

class StringListFileTest : public ::testing::Test {
protected:
    QTemporaryDir FDir;
    QString Path(const QString& Name) const { return FDir.filePath(Name); }
};

TEST_F(StringListFileTest, LoadPicksEncodingFromByteOrderMark) {
    const QString Text = QStringLiteral("ä=1\nβ");
    struct TCase {
        const char* Name;
        QByteArray Data;
    };
    const QList<TCase> Cases = {
        {"utf8bom", QByteArray("\xEF\xBB\xBF") + Text.toUtf8()},
        {"utf16le", QByteArray("\xFF\xFE") + QStringEncoder(QStringConverter::Utf16LE).encode(Text)},
        {"utf16be", QByteArray("\xFE\xFF") + QStringEncoder(QStringConverter::Utf16BE).encode(Text)},
        {"plain", Text.toUtf8()},
    };
    for (const TCase& C : Cases) {
        WriteTestFile(Path(C.Name), C.Data);
        TStringList L;
        L.LoadFromFile(Path(C.Name));
        EXPECT_EQ(L.ToQStringList(), QStringList({"ä=1", "β"})) << C.Name;
    }

    // Without a mark the caller's encoding decides.
    WriteTestFile(Path("latin1"), QByteArray("caf\xE9"));
    TStringList L;
    L.LoadFromFile(Path("latin1"), QStringConverter::Latin1);
    EXPECT_EQ(L[0], QStringLiteral("café"));
    // A mark overrides the caller's choice.
    L.LoadFromFile(Path("utf8bom"), QStringConverter::Latin1);
    EXPECT_EQ(L[0], QStringLiteral("ä=1"));
}

TEST_F(StringListFileTest, SaveWritesEncodingAndOptionalMark) {
    TStringList L;
    L.Add(QStringLiteral("ä"));
    L.Add("b");
    L.SaveToFile(Path("a.txt"));
    EXPECT_EQ(ReadTestFile(Path("a.txt")), QByteArray("\xC3\xA4\r\nb\r\n"));
    L.SaveToFile(Path("b.txt"), QStringConverter::Utf8, true);
    EXPECT_EQ(ReadTestFile(Path("b.txt")), QByteArray("\xEF\xBB\xBF\xC3\xA4\r\nb\r\n"));
    L.SaveToFile(Path("c.txt"), QStringConverter::Utf16LE, true);
    EXPECT_EQ(ReadTestFile(Path("c.txt")), QByteArray("\xFF\xFE\xE4\0\r\0\n\0b\0\r\0\n\0", 14));

    for (const char* Name : {"a.txt", "b.txt", "c.txt"}) {
        TStringList Back;
        Back.LoadFromFile(Path(Name));
        EXPECT_EQ(Back.ToQStringList(), L.ToQStringList()) << Name;
    }
}

TEST_F(StringListFileTest, FileErrorsCarryTheSystemMessage) {
    TStringList L;
    try {
        L.LoadFromFile(Path("missing.txt"));
        FAIL() << "loading a missing file succeeded";
    } catch (const EFileError& E) {
        EXPECT_TRUE(E.Message().contains("missing.txt"));
        EXPECT_TRUE(E.Message().contains("No such file", Qt::CaseInsensitive)) << E.Message().toStdString();
    }
    L.Add("x");
    EXPECT_THROW(L.SaveToFile(Path("no/such/folder/x.txt")), EFileError);
}

TEST_F(StringListFileTest, FailedSaveKeepsTheOldFile) {
    const QString Target = Path("keep.txt");
    WriteTestFile(Target, "old\r\n");
    TStringList L;
    for (int I = 0; I < 1000; ++I)
        L.Add(QStringLiteral("line number %1 of a text too long for the disk").arg(I));

    // A file size limit makes the write fail half way, even for root.
    rlimit Old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &Old), 0);
    const auto OldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit Small = Old;
    Small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &Small), 0);
    bool Raised = false;
    try {
        L.SaveToFile(Target);
    } catch (const EFileError& E) {
        Raised = true;
        EXPECT_TRUE(E.Message().contains("keep.txt"));
    }
    setrlimit(RLIMIT_FSIZE, &Old);
    signal(SIGXFSZ, OldHandler);

    EXPECT_TRUE(Raised);
    EXPECT_EQ(ReadTestFile(Target), QByteArray("old\r\n"));
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList({"keep.txt"}));
    // The same list saves fine once there is room.
    L.SaveToFile(Target);
    TStringList Back;
    Back.LoadFromFile(Target);
    EXPECT_EQ(Back.Count(), 1000);
}
