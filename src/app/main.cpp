#include "app/QXMainUnit.h"
#include "containers/uException.h"
#include "random/RandomUtilsUnit.h"
#include "text/uFdInputStream.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

void ShowStartError(const QString& Message) {
    QMessageBox::critical(nullptr, QStringLiteral("Veltrask"), Message);
}

// The application icon as PNG renderings: Qt reads PNG without a plugin, while
// an SVG window icon would need the SVG icon engine, which a system may lack.
QIcon AppIcon() {
    QIcon Icon;
    for (int Size : {16, 24, 32, 48, 64, 128, 256})
        Icon.addFile(QStringLiteral(":/icons/veltrask-%1.png").arg(Size), QSize(Size, Size));
    return Icon;
}

} // namespace

int main(int argc, char* argv[]) {
    // 0. A closed standard error would be taken by the first file opened
    //    (the log file, a list), and Qt's warnings would land in it.
    OpenClosedStandardDescriptors();
    // 1. Process-wide state of the modules, before any window exists: the
    //    letter-cluster tables of the random text generators. Nothing of the
    //    resolver draws on them, so a damaged table is reported and the
    //    program goes on.
    QString TablesError;
    try {
        LoadRandomTables();
    } catch (const Exception& E) {
        TablesError = E.Message();
        std::fprintf(stderr, "veltrask: %s\n", qPrintable(TablesError));
    }

    // 2. The application object; the main window is a top-level window and so
    //    appears on the taskbar.
    QApplication App(argc, argv);
    // The icons live in the window library; a static library's resources must be pulled in by name.
    Q_INIT_RESOURCE(veltrask_icons);
    QApplication::setWindowIcon(AppIcon());
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELTRASK_APP_ID));
    if (!TablesError.isEmpty())
        QMessageBox::warning(nullptr, QStringLiteral("Veltrask"), TablesError);

    int Result = 1;
    try {
        // 3. The main window: its constructor (FormCreate) restores the inputs
        //    from the settings file, and its destructor (FormDestroy) saves them.
        auto MainForm = std::make_unique<TQXMainForm>();
        MainForm->show();

        // 4. The event loop runs until the main window is closed.
        Result = App.exec();

        // 5. The window goes first, saving the settings, while every module
        //    it may use is still there.
        MainForm.reset();
    } catch (const Exception& E) {
        ShowStartError(E.Message());
    } catch (const std::exception& E) {
        ShowStartError(QString::fromLocal8Bit(E.what()));
    }

    FreeRandomTables();
    return Result;
}
