#include "app/uStoredSettings.h"

#include "containers/uFileUtils.h"

#include "app/ListViewExUnit.h"
#include "app/uMemo.h"
#include "containers/VHashedStringList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTime>
#include <QTimeEdit>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <set>
#include <utility>

namespace {

constexpr int RandomPrefixSize = 8;

// Lines of a text: CR LF, CR or LF end a line; a final break adds no empty line.
QStringList SplitLines(const QString& Text) {
    QStringList Lines;
    const qsizetype Len = Text.size();
    qsizetype Start = 0;
    qsizetype i = 0;
    while (i < Len) {
        const QChar Ch = Text[i];
        if (Ch == QLatin1Char('\r') || Ch == QLatin1Char('\n')) {
            Lines.append(Text.mid(Start, i - Start));
            if (Ch == QLatin1Char('\r') && i + 1 < Len && Text[i + 1] == QLatin1Char('\n'))
                ++i;
            Start = i + 1;
        }
        ++i;
    }
    if (Start < Len)
        Lines.append(Text.mid(Start));
    return Lines;
}

bool IsPresent(TVHashedStringList& List, const QString& Name) {
    return List.IndexOfName(Name) >= 0;
}

QString Value(TVHashedStringList& List, const QString& Name) {
    return List.GetValue(Name);
}

void StoreValue(TVHashedStringList& List, const QString& Name, const QString& V) {
    List.SetValue(Name, V);
}

int ValueAsInt(TVHashedStringList& List, const QString& Name) {
    return StoredStrToInt(Value(List, Name));
}

// The highest number n for which the entry Stem followed by n is stored; 0 for none.
int LastStoredLine(TVHashedStringList& List, const QString& Stem) {
    int Last = 0;
    const QChar Sep = List.NameValueSeparator();
    for (int i = 0; i < List.Count(); ++i) {
        const QString Line = List.Get(i);
        if (!Line.startsWith(Stem))
            continue;
        const qsizetype End = Line.indexOf(Sep, Stem.size());
        if (End <= Stem.size())
            continue;
        bool Ok = false;
        const int N = QStringView(Line).sliced(Stem.size(), End - Stem.size()).toInt(&Ok);
        if (Ok && N > Last && Line.at(Stem.size()).isDigit())
            Last = N;
    }
    return Last;
}

// The line block under Stem, each line followed by Break (see LoadLines).
QString JoinStoredLines(TVHashedStringList& List, const QString& Stem, bool SkipEmpty, const QString& Break) {
    int Count = ValueAsInt(List, Stem + QLatin1Char('N'));
    // Empty lines leave no entry, so the stored lines do not bound the
    // count; a damaged count must still not turn into billions of lines.
    // Every line up to the last one stored is read, and at most
    // MaxStoredLines empty ones after it.
    if (Count > MaxStoredLines) {
        const qint64 Cap = qint64(LastStoredLine(List, Stem)) + MaxStoredLines;
        Count = int(std::min<qint64>(Count, std::max<qint64>(List.Count(), Cap)));
    }
    QString Result;
    QString Name = Stem;
    for (int i = 1; i <= Count; ++i) {
        Name.truncate(Stem.size());
        Name += QString::number(i);
        const QString Line = Value(List, Name);
        if (SkipEmpty && Line.isEmpty())
            continue;
        Result += Line;
        Result += Break;
    }
    return Result;
}

// --- the control kinds ---

void LoadEdit(TVHashedStringList& List, const QString& SName, QLineEdit* Edit, TTwofishCipher* Cipher) {
    if (!IsPresent(List, SName))
        return;
    QString S = Value(List, SName);
    if (Cipher)
        S = QString::fromUtf8(DecryptValue(S.toUtf8(), *Cipher));
    Edit->setText(S);
}

void SaveEdit(TVHashedStringList& List, const QString& SName, QLineEdit* Edit, TTwofishCipher* Cipher) {
    QString S = Edit->text();
    if (Cipher)
        S = QString::fromLatin1(EncryptValue(S.toUtf8(), *Cipher));
    StoreValue(List, SName, S);
}

void LoadCombo(TVHashedStringList& List, const QString& SName, QComboBox* Combo) {
    if (!IsPresent(List, SName))
        return;
    const QString S = Value(List, SName);
    if (Combo->isEditable()) {
        Combo->setEditText(S);
        return;
    }
    for (int i = 0; i < Combo->count(); ++i) {
        if (Combo->itemText(i).compare(S, Qt::CaseInsensitive) == 0) {
            if (Combo->currentIndex() != i) {
                Combo->setCurrentIndex(i);
                // What a user's pick would run.
                Q_EMIT Combo->activated(i);
                Q_EMIT Combo->textActivated(Combo->itemText(i));
            }
            return;
        }
    }
}

void SaveCombo(TVHashedStringList& List, const QString& SName, QComboBox* Combo) {
    if (Combo->isEditable())
        StoreValue(List, SName, Combo->currentText());
    else if (Combo->currentIndex() >= 0)
        StoreValue(List, SName, Combo->itemText(Combo->currentIndex()));
}

bool HasCheckState(const QListWidgetItem* Item) {
    return Item->data(Qt::CheckStateRole).isValid();
}

void LoadCheckList(TVHashedStringList& List, const QString& SName, QListWidget* Box) {
    if (!IsPresent(List, SName))
        return;
    for (int i = 0; i < Box->count(); ++i) {
        QListWidgetItem* Item = Box->item(i);
        if (HasCheckState(Item) || (Item->flags() & Qt::ItemIsUserCheckable))
            Item->setCheckState(Qt::Unchecked);
    }
    const QStringList Pieces = Value(List, SName).split(QLatin1Char(','));
    for (const QString& Piece : Pieces) {
        const int Index = StoredStrToInt(Piece.trimmed());
        if (Index >= 0 && Index < Box->count())
            Box->item(Index)->setCheckState(Qt::Checked);
    }
}

void SaveCheckList(TVHashedStringList& List, const QString& SName, QListWidget* Box) {
    QStringList Indexes;
    for (int i = 0; i < Box->count(); ++i) {
        const QListWidgetItem* Item = Box->item(i);
        if (HasCheckState(Item) && Item->checkState() == Qt::Checked)
            Indexes.append(QString::number(i));
    }
    StoreValue(List, SName, Indexes.join(QLatin1Char(',')));
}

void LoadMemo(TVHashedStringList& List, const QString& SName, QPlainTextEdit* Memo) {
    if (!IsPresent(List, SName + QLatin1Char('N')))
        return;
    // The editor keeps "\n"; the trailing break stays so that a last empty
    // line survives the next save.
    Memo->setPlainText(JoinStoredLines(List, SName, false, QStringLiteral("\n")));
}

void LoadPages(TVHashedStringList& List, const QString& SName, QTabWidget* Pages) {
    const int N = ValueAsInt(List, SName);
    if (N >= 0 && N < Pages->count())
        Pages->setCurrentIndex(N);
}

bool ShowsTime(const QDateTimeEdit* Picker) {
    if (qobject_cast<const QTimeEdit*>(Picker))
        return true;
    if (qobject_cast<const QDateEdit*>(Picker))
        return false;
    return !(Picker->displayedSections() & QDateTimeEdit::DateSections_Mask);
}

void LoadPicker(TVHashedStringList& List, const QString& SName, QDateTimeEdit* Picker) {
    if (ShowsTime(Picker)) {
        const int H = ValueAsInt(List, SName + QLatin1String("Hour"));
        const int M = ValueAsInt(List, SName + QLatin1String("Minute"));
        const int S = ValueAsInt(List, SName + QLatin1String("Second"));
        if (H >= 0 && H < 24 && M >= 0 && M < 60 && S >= 0 && S < 60)
            Picker->setTime(QTime(H, M, S, 0));
    } else {
        const int Y = ValueAsInt(List, SName + QLatin1String("Year"));
        const int M = ValueAsInt(List, SName + QLatin1String("Month"));
        const int D = ValueAsInt(List, SName + QLatin1String("Day"));
        if (Y > 0 && M >= 1 && M <= 12 && D >= 1 && D <= 31) {
            // A day the month does not have (April 31) leaves the picker as it is.
            const QDate Date(Y, M, D);
            if (Date.isValid())
                Picker->setDate(Date);
        }
    }
}

void SavePicker(TVHashedStringList& List, const QString& SName, QDateTimeEdit* Picker) {
    if (ShowsTime(Picker)) {
        const QTime T = Picker->time();
        StoreValue(List, SName + QLatin1String("Hour"), QString::number(T.hour()));
        StoreValue(List, SName + QLatin1String("Minute"), QString::number(T.minute()));
        StoreValue(List, SName + QLatin1String("Second"), QString::number(T.second()));
    } else {
        const QDate D = Picker->date();
        StoreValue(List, SName + QLatin1String("Year"), QString::number(D.year()));
        StoreValue(List, SName + QLatin1String("Month"), QString::number(D.month()));
        StoreValue(List, SName + QLatin1String("Day"), QString::number(D.day()));
    }
}

QString RowKey(const QString& SName, int Row, int Col) {
    return SName + QString::number(Row) + QLatin1Char(':') + QString::number(Col);
}

// Row numbers r in 1..Count for which a line named SName r ":0" exists. Found by
// one pass over the list instead of Count look-ups, so a damaged count costs
// nothing; the rows are the same the plain loop would visit.
std::set<int> StoredRows(const TVHashedStringList& List, const QString& SName, int Count) {
    std::set<int> Rows;
    const QString Stem = SName.toUpper();
    const QString Tail = QStringLiteral(":0");
    for (int i = 0; i < List.Count(); ++i) {
        const QString Name = List.Names(i).toUpper();
        if (Name.size() <= Stem.size() + Tail.size() || !Name.startsWith(Stem) || !Name.endsWith(Tail))
            continue;
        const QString Digits = Name.mid(Stem.size(), Name.size() - Stem.size() - Tail.size());
        bool Ok = false;
        const int Row = Digits.toInt(&Ok, 10);
        if (Ok && Row >= 1 && Row <= Count && QString::number(Row) == Digits)
            Rows.insert(Row);
    }
    return Rows;
}

// The two list-view kinds seen through one face: rows with a caption and
// sub-items, and a column count.
struct TListFace {
    std::function<int()> RowCount;
    std::function<QString(int)> Caption;
    std::function<QStringList(int)> SubItems;
    std::function<int()> ColumnCount;
    std::function<void(const QString&, const QStringList&)> AddRow;
};

TListFace FaceOf(QTreeWidget* Tree) {
    TListFace F;
    F.RowCount = [Tree] { return Tree->topLevelItemCount(); };
    F.Caption = [Tree](int Row) { return Tree->topLevelItem(Row)->text(0); };
    F.SubItems = [Tree](int Row) {
        const QTreeWidgetItem* Item = Tree->topLevelItem(Row);
        QStringList Subs;
        for (int Col = 1; Col < Item->columnCount(); ++Col)
            Subs.append(Item->text(Col));
        return Subs;
    };
    F.ColumnCount = [Tree] { return Tree->columnCount(); };
    F.AddRow = [Tree](const QString& Caption, const QStringList& Subs) {
        auto* Item = new QTreeWidgetItem(Tree);
        Item->setText(0, Caption);
        for (qsizetype i = 0; i < Subs.size(); ++i)
            Item->setText(int(i) + 1, Subs[i]);
    };
    return F;
}

TListFace FaceOf(TListViewEx* View) {
    TListFace F;
    F.RowCount = [View] { return View->ItemCount(); };
    F.Caption = [View](int Row) { return View->ItemCaption(Row); };
    F.SubItems = [View](int Row) { return View->ItemSubItems(Row); };
    F.ColumnCount = [View] { return View->ColumnCount(); };
    F.AddRow = [View](const QString& Caption, const QStringList& Subs) { View->AddItem(Caption, Subs); };
    return F;
}

void LoadListView(TVHashedStringList& List, const QString& SName, const TListFace& View) {
    const int Count = ValueAsInt(List, SName + QLatin1Char('N'));
    if (Count < 0) {
        const QString Caption = Value(List, SName);
        if (!Caption.isEmpty())
            View.AddRow(Caption, {});
        return;
    }
    const int Columns = View.ColumnCount();
    for (int Row : StoredRows(List, SName, Count)) {
        const QString Caption = Value(List, RowKey(SName, Row, 0));
        if (Caption.isEmpty())
            continue;
        QStringList Subs;
        for (int Col = 1; Col < Columns; ++Col)
            Subs.append(Value(List, RowKey(SName, Row, Col)));
        View.AddRow(Caption, Subs);
    }
}

void SaveListView(TVHashedStringList& List, const QString& SName, const TListFace& View) {
    const int Count = View.RowCount();
    for (int Row = 1; Row <= Count; ++Row) {
        StoreValue(List, RowKey(SName, Row, 0), View.Caption(Row - 1));
        const QStringList Subs = View.SubItems(Row - 1);
        for (qsizetype Col = 1; Col <= Subs.size(); ++Col)
            StoreValue(List, RowKey(SName, Row, int(Col)), Subs[Col - 1]);
    }
    StoreValue(List, SName + QLatin1Char('N'), QString::number(Count));
}

} // namespace

TCtrlRec MakeCtrlRec(QWidget* Ctrl, const QString& SName, bool Encrypted) {
    TCtrlRec Rec;
    Rec.Ctrl = Ctrl;
    Rec.SName = SName;
    Rec.Encrypted = Encrypted;
    return Rec;
}

QByteArray StoredSettingsPassphrase() {
    return QByteArrayLiteral("vQ7#kLm2!Xr9$Tz4");
}

int StoredStrToInt(const QString& S, int Default) {
    bool Ok = false;
    const int N = S.toInt(&Ok, 10);
    return Ok ? N : Default;
}

void LoadCtrl(TVHashedStringList& List, const QString& SName, QWidget* Ctrl, TTwofishCipher* Cipher) {
    if (!Ctrl)
        return;
    if (auto* Combo = qobject_cast<QComboBox*>(Ctrl))
        LoadCombo(List, SName, Combo);
    else if (auto* Edit = qobject_cast<QLineEdit*>(Ctrl))
        LoadEdit(List, SName, Edit, Cipher);
    else if (auto* Check = qobject_cast<QCheckBox*>(Ctrl)) {
        if (IsPresent(List, SName))
            Check->setChecked(Value(List, SName) == QLatin1String("1"));
    } else if (auto* Box = qobject_cast<QListWidget*>(Ctrl))
        LoadCheckList(List, SName, Box);
    else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Ctrl))
        LoadMemo(List, SName, Memo);
    else if (auto* Pages = qobject_cast<QTabWidget*>(Ctrl))
        LoadPages(List, SName, Pages);
    else if (auto* Picker = qobject_cast<QDateTimeEdit*>(Ctrl))
        LoadPicker(List, SName, Picker);
    else if (auto* Tree = qobject_cast<QTreeWidget*>(Ctrl))
        LoadListView(List, SName, FaceOf(Tree));
    else if (auto* View = qobject_cast<TListViewEx*>(Ctrl)) {
        // Virtual rows come from their owner and cannot be added here.
        if (!View->OwnerData())
            LoadListView(List, SName, FaceOf(View));
    }
}

void SaveCtrl(TVHashedStringList& List, const QString& SName, QWidget* Ctrl, TTwofishCipher* Cipher) {
    if (!Ctrl)
        return;
    if (auto* Combo = qobject_cast<QComboBox*>(Ctrl))
        SaveCombo(List, SName, Combo);
    else if (auto* Edit = qobject_cast<QLineEdit*>(Ctrl))
        SaveEdit(List, SName, Edit, Cipher);
    else if (auto* Check = qobject_cast<QCheckBox*>(Ctrl))
        StoreValue(List, SName, Check->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    else if (auto* Box = qobject_cast<QListWidget*>(Ctrl))
        SaveCheckList(List, SName, Box);
    else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Ctrl))
        SaveLines(List, SName, MemoText(Memo), false);
    else if (auto* Pages = qobject_cast<QTabWidget*>(Ctrl))
        StoreValue(List, SName, QString::number(Pages->currentIndex()));
    else if (auto* Picker = qobject_cast<QDateTimeEdit*>(Ctrl))
        SavePicker(List, SName, Picker);
    else if (auto* Tree = qobject_cast<QTreeWidget*>(Ctrl))
        SaveListView(List, SName, FaceOf(Tree));
    else if (auto* View = qobject_cast<TListViewEx*>(Ctrl)) {
        if (!View->OwnerData())
            SaveListView(List, SName, FaceOf(View));
    }
}

void LoadCtrls(TVHashedStringList& List, const QByteArray& Passphrase, const TCtrlRecs& Table) {
    TTwofishCipher Cipher;
    Cipher.InitStr(Passphrase);
    for (const TCtrlRec& Rec : Table) {
        if (Rec.Ctrl)
            LoadCtrl(List, Rec.SName, Rec.Ctrl, Rec.Encrypted ? &Cipher : nullptr);
    }
    // The destructor wipes the key material, also when a row threw.
}

void SaveCtrls(TVHashedStringList& List, const QByteArray& Passphrase, const TCtrlRecs& Table) {
    TTwofishCipher Cipher;
    Cipher.InitStr(Passphrase);
    for (const TCtrlRec& Rec : Table) {
        if (Rec.Ctrl)
            SaveCtrl(List, Rec.SName, Rec.Ctrl, Rec.Encrypted ? &Cipher : nullptr);
    }
}

QString LoadLines(TVHashedStringList& List, const QString& Stem, bool SkipEmpty) {
    return JoinStoredLines(List, Stem, SkipEmpty, QStringLiteral("\r\n"));
}

void SaveLines(TVHashedStringList& List, const QString& Stem, const QString& Text, bool SkipEmpty) {
    int Count = 0;
    for (const QString& Line : SplitLines(Text)) {
        if (SkipEmpty && Line.isEmpty())
            continue;
        ++Count;
        StoreValue(List, Stem + QString::number(Count), Line);
    }
    StoreValue(List, Stem + QLatin1Char('N'), QString::number(Count));
}

QByteArray EncryptValue(const QByteArray& Data, TTwofishCipher& Cipher, const QByteArray& RandomBytes) {
    if (RandomBytes.size() != RandomPrefixSize)
        throw ECipherError(QStringLiteral("Invalid random prefix size (%1 bytes)").arg(RandomBytes.size()),
                           "ECipherError");
    Cipher.Reset();
    const QByteArray Enciphered = Cipher.EncryptCFB8bit(RandomBytes + Data);
    return QByteArrayLiteral(":$") + Base64Encode(Enciphered);
}

QByteArray EncryptValue(const QByteArray& Data, TTwofishCipher& Cipher) {
    QByteArray RandomBytes(RandomPrefixSize, Qt::Uninitialized);
    QRandomGenerator* Gen = QRandomGenerator::system();
    for (char& B : RandomBytes)
        B = char(Gen->bounded(1, 256));
    return EncryptValue(Data, Cipher, RandomBytes);
}

QByteArray DecryptValue(const QByteArray& Value, TTwofishCipher& Cipher) {
    if (!Value.startsWith(':'))
        return Value;
    Cipher.Reset();
    if (Value.startsWith(":$"))
        return Cipher.DecryptCFB8bit(Base64Decode(Value.mid(2))).mid(RandomPrefixSize);
    return Cipher.DecryptCFB8bit(Base64Decode(Value.mid(1)));
}

// --- settings folder and file ---

TSettingsOptions ParseSettingsOptions(const QStringList& Args) {
    TSettingsOptions Options;
    Options.Mode = TSettingsDirMode::sdmNone;
    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString& Arg = Args[i];
        if (Arg == QLatin1String("-appsettingsdir")) {
            Options.Mode = TSettingsDirMode::sdmProgram;
        } else if (Arg == QLatin1String("-settingsdir") && i + 1 < Args.size()) {
            Options.SettingsDir = Args[++i].left(MaxOptionLength);
            Options.Mode = TSettingsDirMode::sdmExplicit;
        } else if (Arg == QLatin1String("-config") && i + 1 < Args.size()) {
            Options.Config = Args[++i].left(MaxOptionLength);
            if (Options.Mode == TSettingsDirMode::sdmNone && !Options.Config.isEmpty())
                Options.Mode = TSettingsDirMode::sdmProgram;
        }
    }
    return Options;
}

namespace {

QStringList ProcessArguments() {
    if (QCoreApplication::instance())
        return QCoreApplication::arguments().mid(1);
    // Before the application object exists the kernel still knows them.
    QFile F(QStringLiteral("/proc/self/cmdline"));
    QStringList Args;
    if (F.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> Parts = F.readAll().split('\0');
        for (qsizetype i = 1; i < Parts.size(); ++i) {
            if (i == Parts.size() - 1 && Parts[i].isEmpty())
                break;
            Args.append(QString::fromLocal8Bit(Parts[i]));
        }
    }
    return Args;
}

} // namespace

const TSettingsOptions& SettingsOptions() {
    static const TSettingsOptions Options = ParseSettingsOptions(ProcessArguments());
    return Options;
}

QString GetProgramDir() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

namespace {

void SeedSettingsDir(const QString& ProgramDir, const QString& Dir, const QString& CopyList) {
    const QStringList Items = CopyList.split(QLatin1Char(';'));
    for (const QString& RawItem : Items) {
        const QString Item = RawItem.trimmed();
        if (Item.isEmpty())
            continue;
        const QFileInfo Pattern(ProgramDir + QLatin1Char('/') + Item);
        const QDir SourceDir(Pattern.path());
        // QDir::Files without Hidden/System: no folders, hidden or special files.
        const QFileInfoList Found = SourceDir.entryInfoList(QStringList{Pattern.fileName()}, QDir::Files);
        for (const QFileInfo& Src : Found) {
            const QString Dest = Dir + QLatin1Char('/') + Src.fileName();
            if (!QFileInfo::exists(Dest))
                QFile::copy(Src.absoluteFilePath(), Dest);  // a failed copy is skipped
        }
    }
}

} // namespace

QString ResolveAppSettingsDir(const TSettingsOptions& Options, const QString& ProgramDir,
                              const QString& AppDataDir, const QString& ProductDirName, const QString& CopyList) {
    if (Options.Mode == TSettingsDirMode::sdmProgram)
        return ProgramDir;
    if (Options.Mode == TSettingsDirMode::sdmExplicit)
        return Options.SettingsDir;
    if (AppDataDir.isEmpty() || ProductDirName.isEmpty())
        return ProgramDir;
    // The configuration folder itself may be missing on a fresh account.
    if (!QFileInfo(AppDataDir).isDir() && !QDir().mkpath(AppDataDir))
        return ProgramDir;
    const QString Candidate =
        ProductDirName.startsWith(QLatin1Char('/')) ? AppDataDir + ProductDirName
                                                    : AppDataDir + QLatin1Char('/') + ProductDirName;
    if (QFileInfo(Candidate).isDir())
        return Candidate;
    if (!QDir().mkdir(Candidate))
        return ProgramDir;
    if (!CopyList.isEmpty())
        SeedSettingsDir(ProgramDir, Candidate, CopyList);
    return Candidate;
}

QString ResolveAppConfigFile(const TSettingsOptions& Options, const QString& DefaultFileName, const QString& Dir) {
    const QString Name = Options.Config.isEmpty() ? DefaultFileName : Options.Config;
    if (Name.startsWith(QLatin1Char('/')) || Name.contains(QLatin1Char(':')))
        return Name;
    if (!Dir.isEmpty())
        return Dir + QLatin1Char('/') + Name;
    if (Options.Mode == TSettingsDirMode::sdmExplicit && !Options.SettingsDir.isEmpty())
        return Options.SettingsDir + QLatin1Char('/') + Name;
    return Name;
}

QString GetAppSettingsDir(const QString& ProductDirName, const QString& CopyList) {
    const QString ProgramDir = GetProgramDir();
    const TSettingsOptions& Options = SettingsOptions();
    QString AppDataDir;
    if (Options.Mode == TSettingsDirMode::sdmNone)
        AppDataDir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return ResolveAppSettingsDir(Options, ProgramDir, AppDataDir, ProductDirName, CopyList);
}

QString GetAppConfigFile(const QString& DefaultFileName, const QString& Dir) {
    return ResolveAppConfigFile(SettingsOptions(), DefaultFileName, Dir);
}

namespace {

EFileError TooBigError(const QString& FileName, qint64 Size) {
    return EFileError(QStringLiteral("Settings file \"%1\" is too big (%2 bytes, at most %3 are read); "
                                     "it was not read")
                          .arg(FileName)
                          .arg(Size)
                          .arg(MaxSettingsFileSize));
}

} // namespace

void LoadSettingsData(TVHashedStringList& List, QByteArray Data) {
    if (Data.size() > MaxSettingsFileSize)
        throw TooBigError(QStringLiteral("qx.ini"), Data.size());
    if (Data.startsWith("\xEF\xBB\xBF"))
        Data.remove(0, 3);
    const QStringList Lines = SplitLines(QString::fromUtf8(Data));
    Data.clear();
    const QChar Sep = List.NameValueSeparator();
    List.BeginUpdate();
    for (const QString& Line : Lines) {
        // A line without a separator matches no name; it has nothing to restore.
        if (Line.contains(Sep))
            List.Add(Line);
    }
    List.EndUpdate();
}

void LoadSettingsFile(TVHashedStringList& List, const QString& FileName) {
    QFile F(FileName);
    if (!F.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, F.errorString()));
    // Refused before a byte is read: nothing of a file this size fits the window.
    if (F.size() > MaxSettingsFileSize)
        throw TooBigError(FileName, F.size());
    // In pieces, so that a file that is not what its size says still stops at the limit.
    QByteArray Data;
    Data.reserve(F.size());
    char Piece[65536];
    for (;;) {
        const qint64 Got = F.read(Piece, sizeof Piece);
        if (Got < 0)
            throw EFileError(QStringLiteral("Cannot read file \"%1\". %2").arg(FileName, F.errorString()));
        if (Got == 0)
            break;
        Data.append(Piece, Got);
        if (Data.size() > MaxSettingsFileSize)
            throw TooBigError(FileName, Data.size());
    }
    F.close();
    LoadSettingsData(List, std::move(Data));
}

void SaveSettingsFile(const TVHashedStringList& List, const QString& FileName) {
    QByteArray Data("\xEF\xBB\xBF");
    for (int i = 0; i < List.Count(); ++i) {
        QString Line = List.Get(i);
        // A line break inside a value would split it and could smuggle in a
        // line of its own (an edit holding "x\nThreads=500"): it goes out as a blank.
        Line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        Data += Line.toUtf8();
        Data += "\r\n";
    }
    WriteFileReplacing(FileName, Data);
}
