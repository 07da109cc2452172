// The list control against the plain-text editor it replaces: one table of
// edit operations, played on both; the text, the cursor and the line count
// must come out the same (and as the row expects, so that both cannot be
// wrong together).

#include "app/uLinesEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <gtest/gtest.h>
#include <map>

namespace {

std::string Str(const QString& S) { return S.toStdString(); }

// One editor under the script: the steps a user takes, on either widget.
struct TDriver {
    virtual ~TDriver() = default;
    virtual QWidget* Widget() = 0;
    virtual void SetText(const QString& Text) = 0;
    virtual void Select(int Anchor, int Pos) = 0;
    virtual void Paste() = 0;
    virtual void Append(const QString& Text) = 0;
    virtual void Undo() = 0;
    virtual void Cut() = 0;
    virtual QString Text() const = 0;
    virtual int Cursor() const = 0;
    virtual int LineCount() const = 0;
};

struct TPlainDriver : TDriver {
    QPlainTextEdit E;
    QWidget* Widget() override { return &E; }
    void SetText(const QString& Text) override { E.setPlainText(Text); }
    void Select(int Anchor, int Pos) override {
        QTextCursor C = E.textCursor();
        C.setPosition(Anchor);
        C.setPosition(Pos, QTextCursor::KeepAnchor);
        E.setTextCursor(C);
    }
    void Paste() override { E.paste(); }
    void Append(const QString& Text) override { E.appendPlainText(Text); }
    void Undo() override { E.undo(); }
    void Cut() override { E.cut(); }
    QString Text() const override { return E.toPlainText(); }
    int Cursor() const override { return E.textCursor().position(); }
    int LineCount() const override {
        const int N = E.document()->blockCount();
        return E.document()->lastBlock().length() <= 1 ? N - 1 : N;
    }
};

struct TLinesDriver : TDriver {
    TLinesEdit E;
    QWidget* Widget() override { return &E; }
    void SetText(const QString& Text) override { E.setPlainText(Text); }
    void Select(int Anchor, int Pos) override { E.SetSelection(Anchor, Pos); }
    void Paste() override { E.paste(); }
    void Append(const QString& Text) override { E.appendPlainText(Text); }
    void Undo() override { E.undo(); }
    void Cut() override { E.cut(); }
    QString Text() const override { return E.toPlainText(); }
    int Cursor() const override { return int(E.CursorPosition()); }
    int LineCount() const override { return E.LineCount(); }
};

// Steps, one per line: "type:TEXT", "key:NAME" (with "shift+"/"ctrl+"), "sel:A,B",
// "paste:TEXT" (through the clipboard; \n, \r and \u2029 written out), "append:TEXT"
// (as the program adds a line, written out the same way), "drop:TEXT"
// (dragged onto the top left corner), "undo", "cut".
void Play(TDriver& D, const QString& Script) {
    for (const QString& Step : Script.split(QLatin1Char('|'))) {
        const QString Verb = Step.section(QLatin1Char(':'), 0, 0);
        QString Arg = Step.section(QLatin1Char(':'), 1);
        if (Verb == QLatin1String("type")) {
            QTest::keyClicks(D.Widget(), Arg);
        } else if (Verb == QLatin1String("key")) {
            Qt::KeyboardModifiers Mods;
            if (Arg.startsWith(QLatin1String("shift+")))
                Mods |= Qt::ShiftModifier, Arg.remove(0, 6);
            if (Arg.startsWith(QLatin1String("ctrl+")))
                Mods |= Qt::ControlModifier, Arg.remove(0, 5);
            static const std::map<QString, Qt::Key> Keys = {
                {QStringLiteral("Backspace"), Qt::Key_Backspace}, {QStringLiteral("Delete"), Qt::Key_Delete},
                {QStringLiteral("Return"), Qt::Key_Return},       {QStringLiteral("Home"), Qt::Key_Home},
                {QStringLiteral("End"), Qt::Key_End},             {QStringLiteral("Left"), Qt::Key_Left},
                {QStringLiteral("Right"), Qt::Key_Right},         {QStringLiteral("Up"), Qt::Key_Up},
                {QStringLiteral("Down"), Qt::Key_Down},           {QStringLiteral("A"), Qt::Key_A},
                {QStringLiteral("Z"), Qt::Key_Z},                 {QStringLiteral("V"), Qt::Key_V},
                {QStringLiteral("X"), Qt::Key_X}};
            ASSERT_TRUE(Keys.count(Arg)) << Str(Arg);
            QTest::keyClick(D.Widget(), Keys.at(Arg), Mods);
        } else if (Verb == QLatin1String("sel")) {
            D.Select(Arg.section(QLatin1Char(','), 0, 0).toInt(), Arg.section(QLatin1Char(','), 1).toInt());
        } else if (Verb == QLatin1String("paste") || Verb == QLatin1String("append")) {
            Arg.replace(QLatin1String("\\n"), QLatin1String("\n"))
                .replace(QLatin1String("\\r"), QLatin1String("\r"))
                .replace(QLatin1String("\\u2029"), QString(QChar::ParagraphSeparator));
            if (Verb == QLatin1String("append")) {
                D.Append(Arg);
                continue;
            }
            QApplication::clipboard()->setText(Arg);
            D.Paste();
        } else if (Verb == QLatin1String("drop")) {
            // Text dragged from elsewhere onto the top left corner: the list's first position.
            QMimeData Data;
            Data.setText(Arg.replace(QLatin1String("\\n"), QLatin1String("\n")));
            QWidget* Target = static_cast<QAbstractScrollArea*>(D.Widget())->viewport();
            QDragEnterEvent Enter(QPoint(1, 1), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(Target, &Enter);
            QDropEvent Drop(QPointF(1, 1), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(Target, &Drop);
        } else if (Verb == QLatin1String("undo")) {
            D.Undo();
        } else if (Verb == QLatin1String("cut")) {
            D.Cut();
        } else {
            FAIL() << "unknown step " << Str(Step);
        }
    }
}

} // namespace

TEST(LinesEdit, EditsComeOutAsInThePlainTextEditor) {
    const struct {
        const char* Name;
        const char* Start;
        const char* Script;
        const char* Want;
        int Lines;
    } Cases[] = {
        {"typing and Return", "", "type:ab|key:Return|type:c", "ab\nc", 2},
        {"Backspace joins two lines", "ab\ncd", "sel:3,3|key:Backspace", "abcd", 1},
        {"Delete at a line's end joins it", "ab\ncd", "sel:2,2|key:Delete", "abcd", 1},
        {"Backspace at the start does nothing", "ab", "sel:0,0|key:Backspace", "ab", 1},
        {"Delete at the end does nothing", "ab", "sel:2,2|key:Delete", "ab", 1},
        {"a selection over lines is replaced by typing", "one\ntwo\nthree", "sel:1,9|type:x", "oxhree", 1},
        {"a backward selection the same", "one\ntwo\nthree", "sel:9,1|type:x", "oxhree", 1},
        {"a multi-line paste over a selection", "a\nb\nc", "sel:2,3|paste:x\\ny\\nz", "a\nx\ny\nz\nc", 5},
        {"pasted CR LF and CR are line breaks", "", "paste:a\\r\\nb\\rc", "a\nb\nc", 3},
        {"undo of a paste over everything", "keep\nthis", "key:ctrl+A|paste:p\\nq|undo", "keep\nthis", 2},
        {"undo of a paste in the middle", "ab", "sel:1,1|paste:1\\n2|undo", "ab", 1},
        {"undo of typing", "x", "sel:1,1|type:abc|undo", "x", 1},
        {"cut and paste it back elsewhere", "ab\ncd", "sel:1,4|cut|key:End|key:ctrl+V", "adb\nc", 2},
        {"Ctrl+X cuts", "ab\ncd", "sel:0,3|key:ctrl+X", "cd", 1},
        {"Ctrl+Z undoes a cut", "ab\ncd", "sel:0,3|key:ctrl+X|key:ctrl+Z", "ab\ncd", 2},
        {"Shift+arrows select down a line", "abc\nabc", "key:ctrl+Home|key:shift+Right|key:shift+Right|key:shift+Down|type:X",
         "Xc", 1},
        {"Shift+Left selects backwards", "abcd", "sel:3,3|key:shift+Left|key:shift+Left|key:Delete", "ad", 1},
        {"Left with a selection goes to its start", "abcd", "sel:1,3|key:Left|type:_", "a_bcd", 1},
        {"Home and End of a line", "abc\ndef", "sel:5,5|key:Home|type:1|key:End|type:2", "abc\n1def2", 2},
        {"Up and Down keep to the lines", "abc\nabc\nabc", "sel:1,1|key:Down|key:Down|type:#|key:Up|type:@",
         "abc\nab@c\na#bc", 3},
        {"Up on the first line", "abc\nabc", "sel:2,2|key:Up|type:X", "abXc\nabc", 2},
        {"Down on the last line", "abc\nabc", "sel:5,5|key:Down|type:X", "abc\naXbc", 2},
        {"Ctrl+End and Ctrl+Home", "one\ntwo", "key:ctrl+End|type:!|key:ctrl+Home|type:?", "?one\ntwo!", 2},
        {"Ctrl+A and typing replace all", "abc\ndef", "key:ctrl+A|type:z", "z", 1},
        {"a final line break adds no line", "a", "key:ctrl+End|key:Return", "a\n", 1},
        {"an empty line before it does", "a\n", "key:ctrl+End|key:Return", "a\n\n", 2},
        {"a paste ending in a break", "a", "key:End|paste:b\\n", "ab\n", 1},
        {"appending to an empty list", "", "append:a\\r\\nb", "a\nb", 2},
        {"appending starts a new line", "x\n", "append:y", "x\n\ny", 3},
        {"text dropped goes where it is dropped", "end", "sel:3,3|drop:x\\ny\\n", "x\ny\nend", 3},
        {"a paragraph separator pasted is a line break", "", "paste:a\\u2029b", "a\nb", 2},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TPlainDriver Plain;
        TLinesDriver Lines;
        for (TDriver* D : {static_cast<TDriver*>(&Plain), static_cast<TDriver*>(&Lines)}) {
            D->SetText(QString::fromUtf8(C.Start));
            Play(*D, QString::fromUtf8(C.Script));
        }
        EXPECT_EQ(Str(Plain.Text()), C.Want) << "the plain-text editor";
        EXPECT_EQ(Str(Lines.Text()), C.Want);
        EXPECT_EQ(Lines.Cursor(), Plain.Cursor());
        EXPECT_EQ(Lines.LineCount(), Plain.LineCount());
        EXPECT_EQ(Lines.LineCount(), C.Lines);
    }
}

TEST(LinesEdit, ListsComeBackAsTheyWereSetAndReadOnlyRefusesEdits) {
    const QStringList Lists[] = {{}, {"a"}, {"a", ""}, {"", ""}, {"a", "", "b"}, {"x y", "\u00e4\u00f6"}};
    for (const QStringList& L : Lists) {
        TLinesEdit E;
        E.SetLines(L);
        EXPECT_EQ(E.Lines(), L) << Str(L.join('|'));
        EXPECT_EQ(E.LineCount(), L.size());
    }
    TLinesEdit E;
    E.setPlainText(QStringLiteral("r1"));
    E.setReadOnly(true);
    E.appendPlainText(QStringLiteral("r2"));
    E.selectAll();
    QTest::keyClicks(&E, QStringLiteral("x"));
    QTest::keyClick(&E, Qt::Key_Backspace);
    QTest::keyClick(&E, Qt::Key_Z, Qt::ControlModifier);
    QApplication::clipboard()->setText(QStringLiteral("p"));
    E.paste();
    E.cut();
    EXPECT_EQ(Str(E.toPlainText()), "r1\nr2");
    QTest::keyClick(&E, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Str(QApplication::clipboard()->text()), "r1\nr2") << "copying still works";
}


// The line index after many edits in a long list: every line read through it
// must be the text's own, and undo and redo must walk back and forth exactly.
TEST(LinesEdit, TheLineIndexFollowsEditsUndoAndRedoOfABigList) {
    QStringList Start;
    for (int I = 0; I < 4000; ++I)
        Start << QStringLiteral("host%1.example").arg(I);
    TLinesEdit E;
    E.SetLines(Start);
    QString Want = Start.join('\n');
    const auto Check = [&](const char* When) {
        ASSERT_EQ(E.toPlainText().size(), Want.size()) << When;
        ASSERT_TRUE(E.toPlainText() == Want) << When;
        const QStringList Split = Want.split('\n');
        ASSERT_EQ(E.blockCount(), Split.size()) << When;
        for (int I = 0; I < Split.size(); I += 31)
            ASSERT_EQ(Str(E.Line(I)), Str(Split[I])) << When << " line " << I;
        ASSERT_EQ(Str(E.Line(Split.size() - 1)), Str(Split.last())) << When;
    };
    std::vector<QString> History{Want};
    quint32 Seed = 12345;
    const auto Next = [&](quint32 Range) { return (Seed = Seed * 1103515245u + 12345u) / 65536u % Range; };
    const QString Pieces[] = {QStringLiteral("x"), QStringLiteral("\n"), QStringLiteral("a\nb\n"),
                              QStringLiteral("\r\nnew.example\r\n"), QString()};
    for (int Step = 0; Step < 200; ++Step) {
        const qsizetype From = Next(quint32(Want.size() + 1));
        const qsizetype To = qMin<qsizetype>(Want.size(), From + Next(Step % 10 == 0 ? 5000 : 30));
        const QString Piece = Pieces[Next(5)];
        if (Piece.isEmpty() && From == To)
            continue;
        E.SetSelection(From, To);
        E.insertPlainText(Piece);
        QString Normal = Piece;
        Normal.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        Want.replace(From, To - From, Normal);
        History.push_back(Want);
        Check("edit");
    }
    // A paste over the whole list is one step too.
    E.selectAll();
    E.insertPlainText(Start.mid(0, 500).join('\n'));
    Want = Start.mid(0, 500).join('\n');
    History.push_back(Want);
    Check("paste over all");
    for (size_t I = History.size() - 1; I > 0; --I) {
        E.undo();
        Want = History[I - 1];
        Check("undo");
    }
    EXPECT_FALSE(E.IsUndoAvailable());
    for (size_t I = 1; I < History.size(); ++I) {
        E.redo();
        Want = History[I];
        Check("redo");
    }
}
