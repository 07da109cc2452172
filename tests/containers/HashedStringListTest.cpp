#include "containers/VHashedStringList.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Counts live instances so tests can see exactly which objects were freed.
struct TCounted : TObject {
    explicit TCounted(int* ALive) : FLive(ALive) { ++*FLive; }
    ~TCounted() override { --*FLive; }
    int* FLive;
};

struct TExposedHash : TVStringHash {
    using TVStringHash::TVStringHash;
    using TVStringHash::HashOf;
};

} // namespace

TEST(StringHashTest, HashRotatesAndXorsCodeUnits) {
    TExposedHash H(1);
    EXPECT_EQ(H.HashOf(""), 0u);
    EXPECT_EQ(H.HashOf("A"), 0x41u);
    EXPECT_EQ(H.HashOf("AB"), (0x41u << 2) ^ 0x42u);
    // Bits leaving the top come back at the bottom: a rotation, not a shift.
    QString Key(16, QChar(0));
    Key[0] = QChar(0xFFFF);
    EXPECT_EQ(H.HashOf(Key), 0xC0003FFFu);
    EXPECT_EQ(H.HashOf(QString::fromUtf16(u"\u00e4")), 0xE4u);
}

TEST(StringHashTest, EqualKeysDeleteAndShiftValues) {
    for (quint32 Size : {1u, 7u}) {
        TVStringHash H(Size);
        H.Add("k", 1);
        H.Add("k", 2);
        H.Add("K", 3);
        H.Add("x", 5);
        EXPECT_EQ(H.ValueOf("k"), 2) << Size;
        EXPECT_EQ(H.ValueOf("K"), 3);
        EXPECT_EQ(H.ValueOf("missing"), -1);
        EXPECT_FALSE(H.Delete("k", 3));
        EXPECT_FALSE(H.Delete("missing", 1));
        EXPECT_TRUE(H.Delete("k", 1));
        EXPECT_EQ(H.ValueOf("k"), 2);
        EXPECT_TRUE(H.Delete("k", 2));
        EXPECT_EQ(H.ValueOf("k"), -1);
        EXPECT_EQ(H.ValueOf("K"), 3);

        H.DecValues(3);
        EXPECT_EQ(H.ValueOf("K"), 3);
        EXPECT_EQ(H.ValueOf("x"), 4);
        H.IncValues(2);
        EXPECT_EQ(H.ValueOf("K"), 4);
        EXPECT_EQ(H.ValueOf("x"), 5);
        H.Clear();
        EXPECT_EQ(H.ValueOf("x"), -1);
    }
    EXPECT_THROW(TVStringHash(0), EListError);
    EXPECT_THROW(TVHashedStringList(0), EListError);
}

TEST(StringHashTest, ResizeKeepsEveryEntryAndTheOrderOfEqualKeys) {
    TVStringHash H(1);
    for (int I = 0; I < 50; ++I)
        H.Add(QStringLiteral("key%1").arg(I % 10), I);
    EXPECT_EQ(H.Count(), 50);
    for (quint32 Size : {7u, 64u, 3u, 1u}) {
        H.Resize(Size);
        EXPECT_EQ(H.Size(), Size);
        EXPECT_EQ(H.Count(), 50);
        // Each key answers with the entry added last, then the one before it.
        for (int K = 0; K < 10; ++K)
            EXPECT_EQ(H.ValueOf(QStringLiteral("key%1").arg(K)), 40 + K) << Size;
    }
    H.Resize(97);
    EXPECT_TRUE(H.Delete("key3", 43));
    EXPECT_EQ(H.ValueOf("key3"), 33);
    EXPECT_FALSE(H.Delete("key3", 43));
    EXPECT_EQ(H.Count(), 49);
    EXPECT_THROW(H.Resize(0), EListError);
    EXPECT_EQ(H.ValueOf("key3"), 33);
    H.Clear();
    EXPECT_EQ(H.Count(), 0);
}

// Look-ups find exactly what the list's own comparison calls equal. Upper-case
// keys did not: "ß" became "SS" and "ı" became "I", which the comparison
// keeps apart, while the Kelvin sign stayed itself although it equals "k".
TEST(HashedStringListTest, CaseFoldedLookupsAgreeWithTheListsComparison) {
    const QString SharpS = QString::fromUtf16(u"\u00df"), CapitalSharpS = QString::fromUtf16(u"\u1e9e");
    TVHashedStringList Sorted;
    Sorted.SetSorted(true);
    Sorted.Add("ss");
    Sorted.Add(SharpS);
    Sorted.Add("x");
    for (const QString& Q : {QString("ss"), QString("SS"), QString("sS")})
        EXPECT_EQ(Sorted.Get(Sorted.IndexOf(Q)), "ss") << Q.toStdString();
    EXPECT_EQ(Sorted.Get(Sorted.IndexOf(SharpS)), SharpS);
    EXPECT_EQ(Sorted.Get(Sorted.IndexOf(CapitalSharpS)), SharpS);

    // Random words over letters whose case rules differ, against the plain
    // list's linear search: found by one exactly when found by the other, and
    // always a line that compares equal.
    const QStringList Letters =
        QString::fromUtf16(u"s S \u00df \u1e9e \u017f k K \u212a \u03c3 \u03c2 \u03a3 i I \u0130 \u0131 "
                           u"\u01c4 \u01c5 \u01c6 \u2126 \u03c9 \U00010400 \U00010428 =")
            .split(' ');
    std::mt19937 Rng(2718);
    auto Word = [&] {
        QString W;
        for (int N = 1 + int(Rng() % 3); N > 0; --N)
            W += Letters[int(Rng() % unsigned(Letters.size()))];
        return W;
    };
    TVHashedStringList Hashed;
    TStringList Plain;
    for (int I = 0; I < 300; ++I) {
        const QString W = Word();
        Hashed.Add(W);
        Plain.Add(W);
    }
    for (int I = 0; I < 3000; ++I) {
        const QString Q = Word();
        const int H = Hashed.IndexOf(Q);
        const int P = Plain.IndexOf(Q);
        ASSERT_EQ(H >= 0, P >= 0) << Q.toStdString();
        if (H >= 0) {
            EXPECT_EQ(Hashed.CompareStrings(Hashed.Get(H), Q), 0) << Q.toStdString();
        }
        const int HN = Hashed.IndexOfName(Q);
        const int PN = Plain.IndexOfName(Q);
        ASSERT_EQ(HN >= 0, PN >= 0) << "name " << Q.toStdString();
        if (HN >= 0) {
            EXPECT_EQ(Hashed.CompareStrings(Hashed.Names(HN), Q), 0) << Q.toStdString();
        }
    }
}

// A list far bigger than its starting bucket count: the tables grow on the
// way, and every look-up still answers as the list's rules say.
TEST(HashedStringListTest, ListsOutgrowingTheirBucketsStayExact) {
    TVHashedStringList L(4);
    L.IndexOf("prime the tables");
    const int N = 20000;
    for (int I = 0; I < N; ++I)
        L.Add(QStringLiteral("Name%1=%2").arg(I % (N / 2)).arg(I));
    // Updated in place while growing: the line added last wins.
    for (int I = 0; I < N / 2; I += 997) {
        EXPECT_EQ(L.IndexOfName(QStringLiteral("NAME%1").arg(I)), N / 2 + I);
        EXPECT_EQ(L.IndexOf(QStringLiteral("name%1=%2").arg(I).arg(I)), I);
    }
    EXPECT_TRUE(L.ValueHashValid());
    L.Delete(0);
    EXPECT_EQ(L.IndexOfName("Name1"), N / 2);
    EXPECT_EQ(L.IndexOfName("Name0"), N / 2 - 1);
    EXPECT_EQ(L.IndexOf(QStringLiteral("Name0=%1").arg(N / 2)), N / 2 - 1);
    EXPECT_EQ(L.IndexOfName("Name10000"), -1);
}

TEST(HashedStringListTest, CaseInsensitiveNamesLastLineWinsAfterRebuild) {
    TVHashedStringList L(16);
    L.SetText("A=1\nb=2\na=3");
    EXPECT_EQ(L.IndexOfName("B"), 1);
    EXPECT_EQ(L.IndexOfName("A"), 2);
    EXPECT_EQ(L.GetValue("a"), "3");
    EXPECT_EQ(L.Values("A"), "3");
    EXPECT_EQ(L.IndexOf("B=2"), 1);
    EXPECT_EQ(L.IndexOf("b"), -1);
    EXPECT_EQ(L.GetValue("c"), "");

    L.SetCaseSensitive(true);
    EXPECT_EQ(L.IndexOfName("A"), 0);
    EXPECT_EQ(L.IndexOfName("B"), -1);
    EXPECT_EQ(L.IndexOf("b=2"), 1);

    L.SetNameValueSeparator(':');
    EXPECT_EQ(L.IndexOfName("A"), -1);
    L.Add("c:x=y");
    EXPECT_EQ(L.GetValue("c"), "x=y");
}

TEST(HashedStringListTest, NameIsTextBeforeFirstSeparator) {
    TVHashedStringList L;
    L.Add("x=1=2");
    L.Add("noseparator");
    L.Add("=empty name");
    EXPECT_EQ(L.IndexOfName("x"), 0);
    EXPECT_EQ(L.GetValue("x"), "1=2");
    EXPECT_EQ(L.IndexOfName("x=1"), -1);
    EXPECT_EQ(L.IndexOfName("noseparator"), -1);
    EXPECT_EQ(L.IndexOfName(""), 2);
    EXPECT_EQ(L.GetValue(""), "empty name");
    // Names fold as the list compares them: capital sharp s is "ß", "SS" is not.
    L.Add(QString::fromUtf16(u"stra\u00dfe=road"));
    EXPECT_EQ(L.GetValue(QString::fromUtf16(u"STRA\u1e9eE")), "road");
    EXPECT_EQ(L.IndexOfName("STRASSE"), -1);
}

TEST(HashedStringListTest, IdenticalPutIsSilentAndKeepsTables) {
    TVHashedStringList L;
    L.SetText("a=1\nb=2");
    int Changes = 0;
    L.OnChange = [&](TStringList*) { ++Changes; };
    EXPECT_EQ(L.IndexOfName("b"), 1);
    EXPECT_EQ(L.IndexOf("a=1"), 0);
    L.Put(0, "a=1");
    EXPECT_EQ(Changes, 0);
    EXPECT_TRUE(L.ValueHashValid());
    EXPECT_TRUE(L.NameHashValid());
    // A change of case is a change.
    L.Put(0, "A=1");
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(L.Get(0), "A=1");
    EXPECT_THROW(L.Put(2, "c"), EStringListError);
}

TEST(HashedStringListTest, UpdatesInPlaceOrInvalidates) {
    TVHashedStringList L;
    L.SetText("a=1\nb=2\nc=3");
    EXPECT_EQ(L.IndexOf("c=3"), 2);
    EXPECT_EQ(L.IndexOfName("c"), 2);

    L.Add("d=4");
    EXPECT_TRUE(L.ValueHashValid() && L.NameHashValid());
    EXPECT_EQ(L.IndexOfName("d"), 3);
    L.Put(1, "e=5");
    EXPECT_TRUE(L.ValueHashValid() && L.NameHashValid());
    EXPECT_EQ(L.IndexOfName("b"), -1);
    EXPECT_EQ(L.IndexOfName("e"), 1);
    EXPECT_EQ(L.IndexOf("b=2"), -1);
    L.Delete(0);
    EXPECT_TRUE(L.ValueHashValid() && L.NameHashValid());
    EXPECT_EQ(L.IndexOfName("e"), 0);
    EXPECT_EQ(L.IndexOfName("d"), 2);
    EXPECT_EQ(L.IndexOf("c=3"), 1);

    // An insert before the end and any other change drop the tables.
    L.Insert(0, "z=0");
    EXPECT_FALSE(L.ValueHashValid() || L.NameHashValid());
    EXPECT_EQ(L.IndexOfName("d"), 3);
    L.Exchange(0, 3);
    EXPECT_FALSE(L.ValueHashValid());
    EXPECT_EQ(L.IndexOfName("d"), 0);

    L.SetAutoUpdateHash(false);
    EXPECT_EQ(L.IndexOf("z=0"), 3);
    L.Add("f=6");
    EXPECT_FALSE(L.ValueHashValid());
    EXPECT_EQ(L.IndexOf("F=6"), 4);
}

TEST(HashedStringListTest, DeletingUnnamedLineBeforeNamedOnes) {
    TVHashedStringList L;
    L.SetText("comment\nplain\nk1=v1\nk2=v2");
    EXPECT_EQ(L.IndexOfName("k2"), 3);
    L.Delete(0);
    EXPECT_EQ(L.IndexOfName("k1"), 1);
    EXPECT_EQ(L.IndexOfName("k2"), 2);
    EXPECT_EQ(L.GetValue("k2"), "v2");
    L.SetAutoUpdateHash(false);
    L.Delete(0);
    EXPECT_EQ(L.IndexOfName("k1"), 0);
}

TEST(HashedStringListTest, SetValueAndKeepEmptyValues) {
    TVHashedStringList L;
    L.SetValue("a", "1");
    L.SetValue("b", "2");
    L.SetValue("A", "3");
    EXPECT_EQ(L.ToQStringList(), QStringList({"A=3", "b=2"}));
    L.SetValue("a", "");
    EXPECT_EQ(L.ToQStringList(), QStringList({"b=2"}));
    L.SetValue("missing", "");
    EXPECT_EQ(L.Count(), 1);

    L.SetKeepEmptyValues(true);
    L.SetValue("b", "");
    L.SetValue("c", "");
    EXPECT_EQ(L.ToQStringList(), QStringList({"b=", "c="}));
    EXPECT_EQ(L.IndexOfName("c"), 1);
    EXPECT_EQ(L.GetValue("b"), "");
}

TEST(HashedStringListTest, OwnedObjectsAreFreedExactlyOnce) {
    int Live = 0;
    {
        TVHashedStringList L;
        L.SetOwnsObjects(true);
        L.SetValueObject("one", new TCounted(&Live));
        L.SetValueObject("two", new TCounted(&Live));
        L.SetValueObject("three", new TCounted(&Live));
        L.SetValueObject("four", new TCounted(&Live));
        EXPECT_EQ(Live, 4);
        EXPECT_NE(L.GetValueObject("TWO"), nullptr);
        EXPECT_EQ(L.GetValueObject("five"), nullptr);

        L.Delete(L.IndexOf("one"));
        EXPECT_EQ(Live, 3);
        EXPECT_EQ(L.IndexOf("two"), 0);

        L.SetValueObject("two", nullptr);
        EXPECT_EQ(Live, 2);
        EXPECT_EQ(L.IndexOf("two"), -1);
        L.SetValueObject("absent", nullptr);
        EXPECT_EQ(L.Count(), 2);

        // Replacing an object frees the old one; storing the same one again must not.
        TObject* Same = L.GetValueObject("three");
        L.SetValueObject("three", new TCounted(&Live));
        EXPECT_EQ(Live, 2);
        Same = L.GetValueObject("three");
        L.SetValueObject("three", Same);
        EXPECT_EQ(Live, 2);
        EXPECT_EQ(L.GetValueObject("three"), Same);

        L.Clear();
        EXPECT_EQ(Live, 0);
        L.AddObject("five", new TCounted(&Live));
        L.AddObject("six", new TCounted(&Live));
        EXPECT_EQ(Live, 2);
        L.Clear();
        TCounted* Shared = new TCounted(&Live);
        L.AddObject("seven", Shared);
        L.AddObject("eight", Shared);
        L.Clear();
        EXPECT_EQ(Live, 0);
        L.AddObject("nine", new TCounted(&Live));
    }
    EXPECT_EQ(Live, 0);

    // Without ownership nothing is freed.
    TCounted Kept(&Live);
    {
        TVHashedStringList L;
        L.AddObject("k", &Kept);
        L.Delete(0);
        L.AddObject("k", &Kept);
        L.Clear();
        L.AddObject("k", &Kept);
    }
    EXPECT_EQ(Live, 1);
}

TEST(HashedStringListTest, LookupFromChangeHandlerLeavesNoStaleEntries) {
    TVHashedStringList L;
    L.SetText("a\nb");
    bool LookUp = true;
    int SeenByHandler = -2;
    L.OnChange = [&](TStringList* Sender) {
        if (LookUp)
            SeenByHandler = Sender->IndexOf("k");
    };
    EXPECT_EQ(L.IndexOf("b"), 1);
    L.Add("k");
    // The handler already sees the new line.
    EXPECT_EQ(SeenByHandler, 2);
    EXPECT_EQ(L.IndexOf("k"), 2);
    LookUp = false;
    L.Delete(2);
    EXPECT_EQ(L.IndexOf("k"), -1);
    L.Put(1, "k");
    EXPECT_EQ(L.IndexOf("k"), 1);
    EXPECT_EQ(L.IndexOf("b"), -1);
}

// ---------------------------------------------------------------------------
// Random edits against a plain model. The model files every line under a
// stamp that grows with each entry a table receives; a look-up answers the
// matching line with the newest stamp. A rebuild stamps lines in index order
// (so the highest index wins), an update in place stamps only the line it
// touches (so the entry added last wins).

namespace {

class TReference {
public:
    struct TLine {
        QString Text;
        quint64 ValueStamp = 0;
        quint64 NameStamp = 0;
    };

    bool Auto = true;
    QChar Sep = QLatin1Char('=');

    // Equal as the list's own comparison has it.
    static bool Same(const QString& A, const QString& B) {
        return QString::compare(A, B, Qt::CaseInsensitive) == 0;
    }
    bool NameOf(const QString& S, QString& Name) const {
        const int P = S.indexOf(Sep);
        if (P < 0)
            return false;
        Name = S.left(P);
        return true;
    }

    void Insert(int Index, const QString& S) {
        const bool Append = Auto && Index == FLines.size();
        FLines.insert(Index, TLine{S});
        if (!Append) {
            Invalidate();
            return;
        }
        if (FValueValid)
            FLines[Index].ValueStamp = ++FStamp;
        if (FNameValid)
            FLines[Index].NameStamp = ++FStamp;
    }
    void Put(int Index, const QString& S) {
        if (FLines[Index].Text == S)
            return;
        FLines[Index].Text = S;
        if (!Auto) {
            Invalidate();
            return;
        }
        if (FValueValid)
            FLines[Index].ValueStamp = ++FStamp;
        if (FNameValid)
            FLines[Index].NameStamp = ++FStamp;
    }
    void Delete(int Index) {
        FLines.removeAt(Index);
        if (!Auto)
            Invalidate();
    }
    void Clear() {
        if (!FLines.isEmpty())
            Invalidate();
        FLines.clear();
    }

    int IndexOf(const QString& S) {
        if (!FValueValid) {
            for (TLine& L : FLines)
                L.ValueStamp = ++FStamp;
            FValueValid = true;
        }
        int Best = -1;
        for (int I = 0; I < FLines.size(); ++I)
            if (Same(FLines[I].Text, S) && (Best < 0 || FLines[I].ValueStamp > FLines[Best].ValueStamp))
                Best = I;
        return Best;
    }
    int IndexOfName(const QString& Name) {
        QString N;
        if (!FNameValid) {
            for (TLine& L : FLines)
                L.NameStamp = ++FStamp;
            FNameValid = true;
        }
        int Best = -1;
        for (int I = 0; I < FLines.size(); ++I)
            if (NameOf(FLines[I].Text, N) && Same(N, Name) &&
                (Best < 0 || FLines[I].NameStamp > FLines[Best].NameStamp))
                Best = I;
        return Best;
    }
    int Count() const { return FLines.size(); }
    QStringList Texts() const {
        QStringList R;
        for (const TLine& L : FLines)
            R.append(L.Text);
        return R;
    }

private:
    void Invalidate() { FValueValid = FNameValid = false; }

    QList<TLine> FLines;
    bool FValueValid = false;
    bool FNameValid = false;
    quint64 FStamp = 0;
};

enum class TAutoMode { amOn, amOff, amToggle };

void RunRandomEdits(TAutoMode Mode, quint32 Buckets, unsigned Seed) {
    std::mt19937 Rng(Seed);
    auto Pick = [&](int N) { return static_cast<int>(Rng() % static_cast<unsigned>(N)); };
    const QStringList Names = {"a", "A", "b", "B", "ab", "", "key", "ss", "SS", QString::fromUtf16(u"\u00df"),
                               QString::fromUtf16(u"\u1e9e"), QString::fromUtf16(u"\u0131"), "I"};
    const QStringList Values = {"1", "2", "", "x=y"};
    auto RandomLine = [&]() -> QString {
        if (Pick(5) == 0)
            return Names[Pick(Names.size())];  // a line without a name
        return Names[Pick(Names.size())] + '=' + Values[Pick(Values.size())];
    };

    TVHashedStringList L(Buckets);
    TReference R;
    L.SetAutoUpdateHash(Mode != TAutoMode::amOff);
    R.Auto = L.AutoUpdateHash();

    for (int Step = 0; Step < 3000; ++Step) {
        if (Mode == TAutoMode::amToggle && Pick(50) == 0) {
            L.SetAutoUpdateHash(!L.AutoUpdateHash());
            R.Auto = L.AutoUpdateHash();
        }
        const int Op = Pick(100);
        QString Trace;
        if (Op < 40 || R.Count() == 0) {
            const QString S = RandomLine();
            L.Add(S);
            R.Insert(R.Count(), S);
            Trace = "Add " + S;
        } else if (Op < 55) {
            const int I = Pick(R.Count() + 1);
            const QString S = RandomLine();
            L.Insert(I, S);
            R.Insert(I, S);
            Trace = QStringLiteral("Insert %1 %2").arg(I).arg(S);
        } else if (Op < 75) {
            const int I = Pick(R.Count());
            // Sometimes the same text again, sometimes another case of it.
            QString S = Pick(4) == 0 ? L.Get(I) : RandomLine();
            L.Put(I, S);
            R.Put(I, S);
            Trace = QStringLiteral("Put %1 %2").arg(I).arg(S);
        } else if (Op < 97) {
            const int I = Pick(R.Count());
            L.Delete(I);
            R.Delete(I);
            Trace = QStringLiteral("Delete %1").arg(I);
        } else {
            L.Clear();
            R.Clear();
            Trace = "Clear";
        }
        ASSERT_EQ(L.ToQStringList(), R.Texts()) << "step " << Step;
        // Look-ups only now and then, so that several edits pile up in place.
        if (Pick(3) != 0)
            continue;
        for (int K = 0; K < 3; ++K) {
            const QString S = RandomLine();
            const QString N = Names[Pick(Names.size())];
            ASSERT_EQ(L.IndexOf(S), R.IndexOf(S))
                << "step " << Step << " after " << Trace.toStdString() << ", IndexOf " << S.toStdString();
            ASSERT_EQ(L.IndexOfName(N), R.IndexOfName(N))
                << "step " << Step << " after " << Trace.toStdString() << ", IndexOfName " << N.toStdString();
        }
    }
}

} // namespace

TEST(HashedStringListTest, RandomEditsMatchReferenceWithAutoUpdate) {
    RunRandomEdits(TAutoMode::amOn, 3, 20240601);
    RunRandomEdits(TAutoMode::amOn, 256, 7);
    RunRandomEdits(TAutoMode::amOn, 1, 31337);  // the tables grow on the way
}

TEST(HashedStringListTest, RandomEditsMatchReferenceWithoutAutoUpdate) {
    RunRandomEdits(TAutoMode::amOff, 3, 99);
}

TEST(HashedStringListTest, RandomEditsMatchReferenceWhileTogglingAutoUpdate) {
    RunRandomEdits(TAutoMode::amToggle, 5, 4242);
}
