#pragma once

#include "containers/uException.h"

#include <QString>
#include <QStringConverter>
#include <QList>
#include <functional>

class TStringList;

// Change notification: the sending list.
using TNotifyEvent = std::function<void(TStringList* Sender)>;

enum class TDuplicates { dupIgnore, dupAccept, dupError };

// The platform's ordinary string list: ordered lines, each with an optional
// object that the list never frees. Comparisons ignore letter case unless
// CaseSensitive is set. The steps a derived list replaces are virtual.
//
// Sorted lists keep their order: Insert, InsertObject, Put, Exchange and Move
// raise "Operation not allowed on sorted list" there; Add places the line by
// binary search and applies Duplicates (dupIgnore returns the existing index,
// dupError raises "String list does not allow duplicates").
//
// Notification: every change calls Changing before and Changed after it.
// They raise OnChanging/OnChange only while no update is open; BeginUpdate
// from 0 raises OnChanging once and EndUpdate back to 0 raises OnChange once.
class TStringList : public TObject {
public:
    TStringList();
    ~TStringList() override;

    TStringList(const TStringList&) = delete;
    TStringList& operator=(const TStringList&) = delete;

    int Count() const { return FItems.size(); }

    int Add(const QString& S);
    int AddObject(const QString& S, TObject* AObject);
    void Insert(int Index, const QString& S);
    void InsertObject(int Index, const QString& S, TObject* AObject);
    virtual void Delete(int Index);
    virtual void Clear();
    void Exchange(int Index1, int Index2);
    // Moves a line with its object; the object is never detached on the way.
    void Move(int CurIndex, int NewIndex);

    QString Get(int Index) const;          // Strings[i] read
    virtual void Put(int Index, const QString& S);  // Strings[i] write
    QString Strings(int Index) const { return Get(Index); }
    QString operator[](int Index) const { return Get(Index); }
    TObject* GetObject(int Index) const;   // Objects[i] read
    virtual void PutObject(int Index, TObject* AObject);
    TObject* Objects(int Index) const { return GetObject(Index); }

    // Whole-line search: binary when Sorted, else linear from the start.
    virtual int IndexOf(const QString& S);
    // First line whose name part (text before the first separator) equals Name.
    virtual int IndexOfName(const QString& Name);
    int IndexOfObject(TObject* AObject) const;

    // Name part of line Index; the empty text for a line without the separator.
    QString Names(int Index) const;
    // Value of the first line named Name ("" when absent).
    QString Values(const QString& Name);
    // Sets the value of the line named Name; an empty value deletes the line,
    // an absent name appends "Name=Value".
    void SetValues(const QString& Name, const QString& Value);
    // Text after the first separator of line Index; "" for a line without one.
    QString ValueFromIndex(int Index) const;
    // Replaces the value of line Index (a line without a separator becomes its
    // name); an empty value deletes the line.
    void SetValueFromIndex(int Index, const QString& Value);

    // Both settings change what a name or an equal line is: virtual so a
    // list with look-up tables can drop them.
    QChar NameValueSeparator() const { return FNameValueSeparator; }
    virtual void SetNameValueSeparator(QChar C) { FNameValueSeparator = C; }

    bool CaseSensitive() const { return FCaseSensitive; }
    virtual void SetCaseSensitive(bool Value);
    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
    // Sorts the lines (stable); does not remove duplicates.
    void Sort();
    // Sorted search: true and the index of an equal line, or false and the insert position.
    bool Find(const QString& S, int& Index) const;

    // Every line followed by CR LF.
    QString Text() const;
    // Splits at CR LF, CR or LF; a final break adds no empty line.
    void SetText(const QString& Value);

    void AddStrings(const TStringList& Strings);
    void AddStrings(const QStringList& Strings);
    // Replaces the lines and objects by Source's and takes its separator;
    // this list keeps its own CaseSensitive, Sorted and Duplicates.
    void Assign(const TStringList& Source);
    QStringList ToQStringList() const;

    // Loads a text file: a byte-order mark (UTF-8, UTF-16 LE/BE) picks the
    // encoding, otherwise DefaultEncoding is used. File errors raise
    // EFileError with the file system's message.
    void LoadFromFile(const QString& FileName,
                      QStringConverter::Encoding DefaultEncoding = QStringConverter::Utf8);
    // Writes Text in Encoding, with a byte-order mark when WriteBOM is set.
    // The text goes to a temporary file beside the target that then replaces
    // it, so a failed write leaves the old file untouched; errors raise EFileError.
    void SaveToFile(const QString& FileName, QStringConverter::Encoding Encoding = QStringConverter::Utf8,
                    bool WriteBOM = false) const;

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;

    // Compares two texts the way this list does (CaseSensitive or not).
    int CompareStrings(const QString& S1, const QString& S2) const;

protected:
    // Inserting one line: every Add/Insert ends here.
    virtual void InsertItem(int Index, const QString& S, TObject* AObject);
    virtual void Changing();
    virtual void Changed();
    // Raises EStringListError "List index out of bounds (%d)" unless 0 <= Index < Count.
    void CheckIndex(int Index) const;
    void CheckNotSorted() const;

    struct TStringItem {
        QString FString;
        TObject* FObject = nullptr;
    };
    QList<TStringItem> FItems;

private:
    int FUpdateCount = 0;
    QChar FNameValueSeparator = QLatin1Char('=');
    bool FCaseSensitive = false;
    bool FSorted = false;
    TDuplicates FDuplicates = TDuplicates::dupIgnore;
};

VT_DECLARE_EXCEPTION(EFileError, Exception)
