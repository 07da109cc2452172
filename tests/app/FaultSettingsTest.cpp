// The settings cannot be written when the window closes: the folder is
// read-only, or its disk is full. The error box must show, closing must still
// finish, and the qx.ini written before must be left exactly as it was.
// Root is needed to mount over the folder (permissions do not stop root);
// without it the tests say so and skip.
#include "MainFormTestWindow.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

class FaultSettings : public TMainFormTest {
protected:
    void TearDown() override {
        for (auto It = FMounts.rbegin(); It != FMounts.rend(); ++It)
            umount2(It->toLocal8Bit().constData(), MNT_DETACH);
        TMainFormTest::TearDown();
    }

    // Mounts AFolder over itself read-only; false with AWhy when not permitted.
    bool MakeReadOnly(const QString& AFolder, QString& AWhy) {
        const QByteArray P = AFolder.toLocal8Bit();
        if (geteuid() != 0) {
            AWhy = "not running as root";
            return false;
        }
        if (mount(P.constData(), P.constData(), nullptr, MS_BIND, nullptr) != 0) {
            AWhy = QString("bind mount failed: %1").arg(strerror(errno));
            return false;
        }
        FMounts << AFolder;
        if (mount(nullptr, P.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            AWhy = QString("read-only remount failed: %1").arg(strerror(errno));
            return false;
        }
        return true;
    }

    // Mounts a tmpfs of AKiloBytes over AFolder.
    bool MountSmallDisk(const QString& AFolder, int AKiloBytes, QString& AWhy) {
        if (geteuid() != 0) {
            AWhy = "not running as root";
            return false;
        }
        const QByteArray Opt = "size=" + QByteArray::number(AKiloBytes) + "k";
        if (mount("vt-settings", AFolder.toLocal8Bit().constData(), "tmpfs", 0, Opt.constData()) != 0) {
            AWhy = QString("mounting a tmpfs failed: %1").arg(strerror(errno));
            return false;
        }
        FMounts << AFolder;
        return true;
    }

    void Unmount() {
        while (!FMounts.isEmpty())
            ASSERT_EQ(umount2(FMounts.takeLast().toLocal8Bit().constData(), 0), 0) << strerror(errno);
    }

    // Writes the first qx.ini through a window closed normally.
    QByteArray SaveFirstSettings() {
        {
            auto F = NewForm();
            F->ThreadsEdit->setText("7");
            F->OutFormatEdit->setText("first %ip%");
        }
        return ReadTestFile(SettingsFile());
    }

    // A window changed so that saving would write other bytes, closed while
    // saving fails. Returns the boxes it showed.
    QList<TTestMainForm::TBox> CloseFailing(const std::function<bool()>& ABreak, bool& ASkipped) {
        auto F = NewForm();
        EXPECT_EQ(F->ThreadsEdit->text(), "7");
        F->ThreadsEdit->setText("42");
        F->OutFormatEdit->setText("second %ip%");
        ASkipped = !ABreak();
        if (ASkipped)
            return {};
        // What the program does on its way out; it must come back.
        F->FormDestroy();
        QList<TTestMainForm::TBox> Boxes = F->Boxes;
        // Closing once more (the destructor) shows nothing new.
        F.reset();
        return Boxes;
    }

    QStringList FolderEntries() const {
        return QDir(SettingsDir()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QStringList FMounts;
};

} // namespace

TEST_F(FaultSettings, ReadOnlyFolderAtExitShowsTheErrorAndKeepsTheOldFile) {
    const QByteArray Old = SaveFirstSettings();
    ASSERT_TRUE(Old.contains("first %ip%")) << Old.toStdString();
    const QStringList Before = FolderEntries();

    QString Why;
    bool Skipped = false;
    const auto Boxes = CloseFailing([&] { return MakeReadOnly(SettingsDir(), Why); }, Skipped);
    if (Skipped)
        GTEST_SKIP() << "cannot make the settings folder read-only: " << Why.toStdString();

    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_TRUE(Boxes[0].Text.contains("qx.ini")) << Boxes[0].Text.toStdString();
    Unmount();
    EXPECT_EQ(ReadTestFile(SettingsFile()), Old);
    EXPECT_EQ(FolderEntries(), Before) << "a temporary file was left behind";
    // The next start reads the old settings.
    auto F = NewForm();
    EXPECT_EQ(F->ThreadsEdit->text(), "7");
    EXPECT_TRUE(F->Boxes.isEmpty());
}

TEST_F(FaultSettings, FullDiskAtExitShowsTheErrorAndKeepsTheOldFile) {
    QString Why;
    if (!MountSmallDisk(SettingsDir(), 64, Why))
        GTEST_SKIP() << "no small disk for the settings folder: " << Why.toStdString();
    const QByteArray Old = SaveFirstSettings();
    ASSERT_TRUE(Old.contains("first %ip%")) << Old.toStdString();
    const QStringList Before = FolderEntries();

    bool Skipped = false;
    const QString Filler = SettingsDir() + "/filler";
    const auto Boxes = CloseFailing(
        [&] {
            // Take every free block of the disk.
            QFile Fill(Filler);
            if (!Fill.open(QIODevice::WriteOnly))
                return false;
            const QByteArray Block(1024, 'x');
            while (Fill.write(Block) == Block.size() && Fill.flush()) {
            }
            return true;
        },
        Skipped);
    ASSERT_FALSE(Skipped);

    // The write error shows only when the file is flushed: saving must not
    // take a commit after a failed flush for success (the old file would be
    // replaced by an empty one).
    EXPECT_EQ(ReadTestFile(SettingsFile()), Old);
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_TRUE(Boxes[0].Text.contains("qx.ini")) << Boxes[0].Text.toStdString();
    QStringList Expected = Before + QStringList{"filler"};
    Expected.sort();
    EXPECT_EQ(FolderEntries(), Expected) << "a temporary file was left behind";
    Unmount();
}
