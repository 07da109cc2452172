// Feeds arbitrary bytes through the settings file reader and restores a table
// of every stored control kind from them, as a start-up with a damaged qx.ini.
#include "app/uStoredSettings.h"
#include "containers/VHashedStringList.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTreeWidget>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

struct TControls {
    QPlainTextEdit Memo;
    QCheckBox Check;
    QComboBox List;
    QComboBox Editable;
    QListWidget Boxes;
    QTabWidget Pages;
    QDateEdit Date;
    QTimeEdit Time;
    QTreeWidget Tree;
    QLineEdit Plain;
    QLineEdit Secret;

    TControls() {
        List.addItems({"Suppress blacklisted", "Out blacklisted"});
        Editable.setEditable(true);
        for (int i = 0; i < 4; ++i) {
            auto* Item = new QListWidgetItem(QStringLiteral("zone"), &Boxes);
            Item->setFlags(Item->flags() | Qt::ItemIsUserCheckable);
            Item->setCheckState(Qt::Unchecked);
        }
        Pages.addTab(new QWidget, QStringLiteral("a"));
        Pages.addTab(new QWidget, QStringLiteral("b"));
        Tree.setColumnCount(3);
    }
    TCtrlRecs Table() {
        return {MakeCtrlRec(&Memo, "DNSList"),   MakeCtrlRec(&Check, "DBLCheck"),
                MakeCtrlRec(&List, "DBLMode"),   MakeCtrlRec(&Editable, "Edited"),
                MakeCtrlRec(&Boxes, "Zones"),    MakeCtrlRec(&Pages, "SrcType"),
                MakeCtrlRec(&Date, "Since"),     MakeCtrlRec(&Time, "At"),
                MakeCtrlRec(&Tree, "Rows"),      MakeCtrlRec(&Plain, "Threads"),
                MakeCtrlRec(&Secret, "Pass", true)};
    }
};

TControls* Controls = nullptr;

} // namespace

// fontconfig keeps caches it allocates on the first use of a font; they are
// not leaks of an input.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication App(*argc, *argv);
    Controls = new TControls;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TVHashedStringList List(SettingsHashBuckets);
    LoadSettingsData(List, QByteArray(reinterpret_cast<const char*>(Data), qsizetype(Size)));
    TTwofishCipher Cipher;
    Cipher.InitStr(StoredSettingsPassphrase());
    size_t Sum = size_t(LoadLines(List, "DNSList").size());
    for (int i = 0; i < List.Count() && i < 64; ++i)
        Sum += size_t(DecryptValue(List.ValueFromIndex(i).toUtf8(), Cipher).size());
    Controls->Tree.clear();
    LoadCtrls(List, StoredSettingsPassphrase(), Controls->Table());
    // Whatever was restored must store again.
    TVHashedStringList Out(SettingsHashBuckets);
    SaveCtrls(Out, StoredSettingsPassphrase(), Controls->Table());
    return Sum == size_t(-1) ? 1 : 0;
}
